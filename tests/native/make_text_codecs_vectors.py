#!/usr/bin/env python3
"""Writes tests/native/text_codecs_vectors.h: the expected answers of the
blob's URL-safe base64 and UTF-8 codecs, computed by Python's own base64
module and UTF-8/UTF-16 codecs (an implementation independent of ours).

- base64url: random byte strings of every length from 0 to 50 and then some,
  with base64.urlsafe_b64encode's text, padded and with the padding cut off.
- UTF-8 to UTF-16: byte strings made of random characters from every
  encoding length and the range boundaries, many of them damaged (a byte
  changed, dropped, cut off or added, a known ill-formed sequence put in);
  bytes.decode("utf-8") gives the UTF-16 text, or the offset where decoding
  fails (UnicodeDecodeError.start: the first byte of the sequence that is
  not well-formed).
- UTF-16 to UTF-8: random UTF-16 units, lone surrogates among them;
  str.encode("utf-8") gives the bytes, or the unit where encoding fails.

The output is fixed by the seed: run it again only to change the vectors.
Run from anywhere: python3 tests/native/make_text_codecs_vectors.py
"""
import base64
import os
import random

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "text_codecs_vectors.h")

rng = random.Random(20240611)


def c_string(text):
    return '"' + text + '"'


def units_hex(text):
    """The UTF-16 units of a str (surrogates passed through) as 4-digit hex."""
    data = text.encode("utf-16-le", "surrogatepass")
    return "".join("%04x" % (data[i] | data[i + 1] << 8) for i in range(0, len(data), 2))


# ---- base64url

def base64url_rows():
    lengths = list(range(0, 51)) + [rng.randrange(51, 300) for _ in range(30)]
    rows = []
    for n in lengths:
        data = bytes(rng.randrange(256) for _ in range(n))
        padded = base64.urlsafe_b64encode(data).decode("ascii")
        # The standard alphabet for the same bytes, to show the two differ only in - and _.
        assert base64.b64encode(data).decode("ascii").translate(str.maketrans("+/", "-_")) == padded
        rows.append((data.hex(), padded.rstrip("="), padded))
    return rows


# ---- UTF-8 to UTF-16

RANGES = [(0x00, 0x7F), (0x80, 0x7FF), (0x800, 0xD7FF), (0xE000, 0xFFFF), (0x10000, 0x10FFFF)]
BOUNDARIES = [0x00, 0x7F, 0x80, 0x7FF, 0x800, 0xFFF, 0x1000, 0xD7FF, 0xE000, 0xFEFF, 0xFFFD, 0xFFFE, 0xFFFF,
              0x10000, 0x3FFFF, 0x40000, 0xFFFFF, 0x100000, 0x10FFFF]
ILL_FORMED = [b"\x80", b"\xbf", b"\xc0\x80", b"\xc1\xbf", b"\xe0\x80\x80", b"\xe0\x9f\xbf", b"\xed\xa0\x80",
              b"\xed\xbf\xbf", b"\xf0\x80\x80\x80", b"\xf0\x8f\xbf\xbf", b"\xf4\x90\x80\x80", b"\xf5\x80\x80\x80",
              b"\xf8\x88\x80\x80\x80", b"\xfe", b"\xff", b"\xc2", b"\xe2\x82", b"\xf0\x9f\x98", b"\xc2\x41",
              b"\xe2\x28\xa1", b"\xf0\x9f\x41\x80"]


def random_character():
    if rng.random() < 0.25:
        return chr(rng.choice(BOUNDARIES))
    low, high = rng.choice(RANGES)
    return chr(rng.randint(low, high))


def damaged(data):
    data = bytearray(data)
    kind = rng.randrange(5)
    if kind == 0 and data:
        data[rng.randrange(len(data))] = rng.randrange(256)
    elif kind == 1 and data:
        del data[rng.randrange(len(data))]
    elif kind == 2 and data:
        del data[rng.randrange(len(data)):]
    elif kind == 3:
        data.insert(rng.randrange(len(data) + 1), rng.randrange(0x80, 0x100))
    else:
        at = rng.randrange(len(data) + 1)
        data[at:at] = rng.choice(ILL_FORMED)
    return bytes(data)


def utf8_rows():
    rows = []
    samples = [b"", "\u041f\u0440\u0438\u0432\u0435\u0442".encode(), "\u65e5\u672c\u8a9e".encode(),
               "\U0001f600".encode(), b"\xef\xbb\xbfBOM", b"a\x00b"]
    samples += ILL_FORMED
    for _ in range(400):
        text = "".join(random_character() for _ in range(rng.randrange(0, 10)))
        data = text.encode("utf-8")
        samples.append(damaged(data) if rng.random() < 0.6 else data)
    for data in samples:
        try:
            rows.append((data.hex(), units_hex(data.decode("utf-8")), -1))
        except UnicodeDecodeError as e:
            rows.append((data.hex(), "", e.start))
    return rows


# ---- UTF-16 to UTF-8

def random_unit():
    r = rng.random()
    if r < 0.15:
        return rng.randint(0xD800, 0xDBFF)  # high surrogate, paired or not
    if r < 0.25:
        return rng.randint(0xDC00, 0xDFFF)
    if r < 0.5:
        return rng.randint(0x00, 0x7F)
    return rng.choice([rng.randint(0x80, 0x7FF), rng.randint(0x800, 0xD7FF), rng.randint(0xE000, 0xFFFF)])


def utf16_rows():
    rows = []
    samples = [[], [0xD83D, 0xDE00], [0xD83D], [0xDE00], [0xDE00, 0xD83D], [0x41, 0xDBFF, 0xDFFF, 0x42],
               [0xD800, 0xD800, 0xDC00], [0x7F, 0x80, 0x7FF, 0x800, 0xFFFF]]
    for _ in range(250):
        units = []
        for _ in range(rng.randrange(0, 10)):
            unit = random_unit()
            units.append(unit)
            if 0xD800 <= unit <= 0xDBFF and rng.random() < 0.7:
                units.append(rng.randint(0xDC00, 0xDFFF))
        samples.append(units)
    for units in samples:
        raw = b"".join(bytes([u & 0xFF, u >> 8]) for u in units)
        text = raw.decode("utf-16-le", "surrogatepass")  # valid pairs become one character
        try:
            rows.append(("".join("%04x" % u for u in units), text.encode("utf-8").hex(), 0))
        except UnicodeEncodeError as e:
            # e.start counts characters; a character above U+FFFF took two units.
            unit = sum(2 if ord(c) > 0xFFFF else 1 for c in text[:e.start])
            rows.append(("".join("%04x" % u for u in units), "", unit + 1))
    return rows


def main():
    lines = [
        "// Generated by make_text_codecs_vectors.py from Python's base64 module and",
        "// its UTF-8 and UTF-16 codecs; do not edit.  Included by text_codecs_test.cpp.",
        "#pragma once",
        "",
        "namespace text_codecs_vectors {",
        "",
        "// Bytes as hex; base64.urlsafe_b64encode without and with its padding.",
        "struct Base64UrlVector {",
        "    const char* hex;",
        "    const char* unpadded;",
        "    const char* padded;",
        "};",
        "",
        "const Base64UrlVector kBase64Url[] = {",
    ]
    for hex_bytes, unpadded, padded in base64url_rows():
        lines.append("    {%s, %s, %s}," % (c_string(hex_bytes), c_string(unpadded), c_string(padded)))
    lines += [
        "};",
        "",
        "// UTF-8 bytes as hex; the UTF-16 units of bytes.decode('utf-8') as 4-digit",
        "// hex, or the 0-based offset of UnicodeDecodeError.start (-1: decodes).",
        "struct Utf8Vector {",
        "    const char* bytes;",
        "    const char* units;",
        "    int errorAt;",
        "};",
        "",
        "const Utf8Vector kUtf8[] = {",
    ]
    for data, units, error_at in utf8_rows():
        lines.append("    {%s, %s, %d}," % (c_string(data), c_string(units), error_at))
    lines += [
        "};",
        "",
        "// UTF-16 units as 4-digit hex; str.encode('utf-8') of them as hex, or the",
        "// 1-based unit where encoding fails (0: encodes).",
        "struct Utf16Vector {",
        "    const char* units;",
        "    const char* bytes;",
        "    int errorAt;",
        "};",
        "",
        "const Utf16Vector kUtf16[] = {",
    ]
    for units, data, error_at in utf16_rows():
        lines.append("    {%s, %s, %d}," % (c_string(units), c_string(data), error_at))
    lines += ["};", "", "} // namespace text_codecs_vectors", ""]
    with open(OUT, "w", encoding="ascii") as f:
        f.write("\n".join(lines))


if __name__ == "__main__":
    main()
