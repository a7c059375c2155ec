// PEM: DER bytes as base64 between "-----BEGIN <label>-----" and
// "-----END <label>-----" lines, the form key files travel in.
#pragma once

#include "core/xblob.h"

#include <string>

// Reads the first PEM block of `text`: its label ("PUBLIC KEY", "RSA PRIVATE
// KEY", ...) and its bytes.  Text before the BEGIN line and after the END
// line is ignored; inside, blanks, tabs and CR or LF line ends are skipped.
// A block with headers (a line with a colon, as encrypted old-style key
// files have), a character outside the base64 alphabet, bad padding, an END
// line with another label or none at all: "Data is corrupted" / "RSA".
void PemDecode(const std::string& text, std::string& label, XBlob& der);

// The block for `der`: BEGIN line, base64 in lines of 64 characters, END
// line, each line ended by LF.
std::string PemEncode(const char* label, const XBlob& der);
