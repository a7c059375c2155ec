// Text forms of a blob's bytes for scripts: lower-case hex, one-line base64,
// URL-safe base64 and UTF-8.  Hex and both base64 forms are the strict rules
// over the alphabets of core/codecs.h (which also holds the engine's lenient
// rules).  Decoding is strict: a script that hands over a malformed text, or
// asks for UTF-8 text of bytes that are not UTF-8, gets an error that says
// what is wrong and where, never silently different bytes or characters.
//
// Texts are UTF-16 code units in wchar_t, as a BSTR holds them (wchar_t is
// wider off Windows; a unit above 0xFFFF then counts as a character outside
// every alphabet, and as invalid UTF-16).  Positions in error texts count
// characters of a text from 1 (as VBScript's Mid does) and bytes of a blob
// from 0 (as the blob's and the crypto classes' byte positions do).
#pragma once

#include "core/xblob.h"

#include <cstddef>
#include <string>

namespace zelblob {

std::wstring HexText(const XBlob& bytes);
// The standard alphabet with '=' padding.
std::wstring Base64Text(const XBlob& bytes);
// The URL-safe alphabet ('-' and '_' for '+' and '/'), without padding.
std::wstring Base64UrlText(const XBlob& bytes);

// Decode `text` into `out` and return true; on malformed input return false
// with `error` saying why, and leave `out` unchanged.
//
// Hex skips blanks, tabs and line breaks and takes either case.
//
// Base64 skips the same blanks, takes the standard alphabet, and accepts the
// final padding or its absence.  Base64Url takes the URL-safe alphabet and
// nothing else: no blanks or line breaks (a base64url text travels inside
// URLs and tokens, where a blank is a fault), no '+' or '/'.  Its padding is
// optional too.  Both share these rules:
//  - a last group of one digit (a length of 1 mod 4, padding aside) is
//    refused: it cannot hold a byte;
//  - padding, when present, completes the last group to four characters
//    exactly ("Zg==", "Zm8="), and nothing but blanks (Base64) follows it;
//  - the bits of a last group's final digit that lie beyond its last byte
//    are not checked: "Zh" decodes as "Zg" does, to "f".
bool DecodeHex(const wchar_t* text, size_t length, XBlob& out, std::string& error);
bool DecodeBase64(const wchar_t* text, size_t length, XBlob& out, std::string& error);
bool DecodeBase64Url(const wchar_t* text, size_t length, XBlob& out, std::string& error);

// UTF-8 (RFC 3629) bytes as UTF-16 text, a character above U+FFFF as a
// surrogate pair; a byte order mark or a NUL byte is a character like any
// other.  Bytes that are not well-formed UTF-8 (a stray continuation byte, a
// lead byte C0, C1 or F5 to FF, an overlong form, an encoded surrogate
// D800-DFFF, a code point above U+10FFFF, a sequence cut short by another
// byte or by the end) give false with `error` "Invalid UTF-8 at byte N",
// N being the 0-based offset of the first byte of the sequence that is not
// well-formed, and an empty `text`.  The text is reserved at its largest
// size up front (one UTF-16 unit per byte at most), so it never leaves a
// copy behind in freed memory; on failure its characters are wiped.
bool Utf8Text(const XBlob& bytes, std::wstring& text, std::string& error);

// UTF-16 text as UTF-8 bytes into `out`.  An unpaired surrogate gives false
// with `error` "Invalid UTF-16 at character N" (N counting from 1: a high
// surrogate not followed by a low one, or a low one without a high one
// before it), and leaves `out` unchanged.
bool Utf8Bytes(const wchar_t* text, size_t length, XBlob& out, std::string& error);

} // namespace zelblob
