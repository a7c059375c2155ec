// Deflate and inflate for OpenPGP compressed data packets (tag 8): algorithm
// 1 (ZIP) is a raw deflate stream (RFC 1951), algorithm 2 (ZLIB) the same in
// the zlib wrapper (RFC 1950: a two-byte header, then the stream, then the
// Adler-32 of the data).  zlib does the work; it is linked statically.
//
// The data are plaintext: every buffer these functions allocate, zlib's own
// state and window included, is wiped before it is freed.
#pragma once

#include "core/xblob.h"

#include <cstddef>
#include <cstdint>

enum class XCompression : uint8_t { kZip = 1, kZlib = 2 }; // OpenPGP compression ids

// The largest output Decompress hands back: a larger limit is taken as this.
constexpr size_t kMaxDecompressedSize = 0x7FFFFFFF;

// Compresses all of `data` (level 6, zlib's default) into one complete
// stream of the format.  n may be 0: the result is then the empty stream.
// Raises XCryptoAlarm("Unsupported algorithm", "PGP") for a format id other
// than the two above; throws std::bad_alloc when memory runs out or the
// result would pass 2^32 - 1 bytes.
XBlob Compress(XCompression format, const uint8_t* data, size_t n);

// Decompresses the stream at data[0..n) and returns at most `limit` bytes
// (a limit above kMaxDecompressedSize is taken as that).  Bytes after the
// end of the stream are ignored.  Raises XCryptoAlarm("Data is corrupted",
// "PGP") for a malformed or truncated stream, a format id other than the two
// above, and for output that would pass `limit`: inflating stops as soon as
// the limit is passed, so the result never holds more than `limit` bytes and
// the only other memory in use is zlib's state and window (about 40 KiB).
// While the result grows (it starts at a size guessed from n and doubles,
// never past the limit) its previous array lives on until the larger one is
// filled in.
XBlob Decompress(XCompression format, const uint8_t* data, size_t n, size_t limit);
