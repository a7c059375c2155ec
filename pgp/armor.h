// The OpenPGP ASCII armor (RFC 2440 section 6.2) of a binary message: a
// BEGIN line, a Version header, an empty line, the base64 body in lines of
// 76 characters, a checksum line ("=" and the base64 of the CRC-24 of the
// message) and an END line, every line ending with CR LF.
//
// The reader is lenient the way mail and copy-and-paste need it: any header
// lines, CR LF, LF or CR line ends, any body line length, characters outside
// the base64 alphabet, a missing checksum line and a missing or different END
// line are all accepted.  Only the BEGIN line is required, exactly.  The
// body ends at an empty line, at the checksum line, at a line that starts
// with five dashes (the END line, whatever it says) or at the end of the text.
#pragma once

#include "core/xblob.h"

#include <cstdint>
#include <string>

extern const char kArmorBeginLine[]; // "-----BEGIN PGP MESSAGE-----"
extern const char kArmorEndLine[];   // "-----END PGP MESSAGE-----"
extern const char kArmorVersion[];   // "Version: ZELCrypto v2.0"

// The armored text of any byte string.
std::string Enarmor(const XBlob& message);

// The message in an armored text (the text's bytes; it ends at its length or
// at a NUL byte, whichever comes first).  Text before the BEGIN line is
// passed over, and blanks and tabs at the end of any line are ignored.
// XCryptoAlarm with the source "PGP": "Data is corrupted" when no line is
// exactly the BEGIN line,
// "Data CRC error" when a checksum line is present and does not match the
// decoded body (or decodes to fewer than 3 bytes).
XBlob Dearmor(const XBlob& text);

// Clears `line`, copies the characters from `pos` up to the first CR or LF
// or `length`, then steps over one CR and then one LF where they follow;
// returns the position reached.  CR LF, LF and CR each end a line; `length`
// ends the last one.
uint32_t ReadLine(const char* text, uint32_t length, uint32_t pos, std::string& line);
uint32_t ReadLine(const XBlob& text, uint32_t pos, std::string& line);
