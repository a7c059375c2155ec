// Hex and base64 for the whole system: the alphabets, and two sets of rules
// over them.
//  - lenient (here): the engine's ASCII armor body and checksum and the RSA
//    key generation's public exponent, all over the standard base64
//    alphabet (RFC 4648 section 4 / RFC 2045).  Decoding never fails; what
//    is not part of the alphabet is skipped.
//  - strict (zelblob/text_codecs.h): the blob's Hex, Base64 and Base64Url
//    properties, where a script that hands over a malformed text gets an
//    error saying what is wrong, never silently different bytes.
#pragma once

#include "core/xblob.h"

#include <cstdint>
#include <string>

// The alphabets, and the value of a character of any width in them (-1 for
// any other character).  Hex takes either case.  The two base64 alphabets
// share their first 62 digits; the standard one (RFC 4648 section 4) ends in
// "+/", the URL- and file-name-safe one (section 5) in "-_".  '=' is padding
// in both and no digit of either.
extern const char kBase64Alphabet[65];
extern const char kBase64UrlAlphabet[65];
extern const char kHexDigits[17]; // lower case
int Base64Value(uint32_t c);
int Base64UrlValue(uint32_t c);
int HexValue(uint32_t c);

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
