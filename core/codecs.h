// Base64 (RFC 2045 alphabet, 76-character lines joined by CR LF) and hex
// decoding for the engine: the ASCII armor's body and checksum, and the RSA
// key generation's public exponent.  Lenient by design: decoding never fails.
#pragma once

#include "core/xblob.h"

#include <string>

// Four characters per three bytes, "=" padding, CR LF after every 19 groups
// (76 characters) except at the very end; "" for no bytes.
std::string Base64Encode(const XBlob& data);

// Clears out, then decodes up to the first "=" (or the terminator), skipping
// every character outside the alphabet; a last group of 2 or 3 characters
// gives 1 or 2 bytes, a single leftover character nothing.
void Base64Decode(const char* text, XBlob& out);

// Clears out, then reads pairs of hex digits from the left, with a "0" put in
// front of a text of odd length.  A pair that is not two hex digits is skipped.
void HexDecode(const char* text, XBlob& out);
