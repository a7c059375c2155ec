// Text forms of a blob's bytes for scripts: lower-case hex and one-line
// base64, the strict rules over the alphabet of core/codecs.h (which also
// holds the engine's lenient rules).  Decoding is strict: a script that hands
// over a malformed text gets an error that says what is wrong, never
// silently different bytes.
#pragma once

#include "core/xblob.h"

#include <cstddef>
#include <string>

namespace zelblob {

std::wstring HexText(const XBlob& bytes);
std::wstring Base64Text(const XBlob& bytes);

// Decode `text` into `out` and return true; on malformed input return false
// with `error` saying why, and leave `out` unchanged.  Hex skips blanks, tabs
// and line breaks and takes either case; base64 skips the same, takes the
// standard alphabet, and accepts the final padding or its absence.
bool DecodeHex(const wchar_t* text, size_t length, XBlob& out, std::string& error);
bool DecodeBase64(const wchar_t* text, size_t length, XBlob& out, std::string& error);

} // namespace zelblob
