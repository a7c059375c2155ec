// Fuzz target: Decompress on arbitrary streams in both formats and under
// limits from 0 up, and Compress on arbitrary data.
//
// Input: one control byte, then the data.  Control bit 0: the format (0 ZIP,
// 1 ZLIB); bits 1..7: the limit, as the data's length times (bits 1..4) / 8
// plus (bits 5..7) * 1000 bytes, so that limits around the output of small
// streams and below the output of bombs both come up.
//
// Checks: Decompress either returns at most `limit` bytes or raises "Data is
// corrupted" / "PGP" and nothing else; it returns exactly when zlib's own
// inflate, run to completion here without a limit, ends the stream within the
// data with output of at most `limit` bytes, and then returns the same bytes.
// The data compressed in the chosen format decompresses to itself, with the
// limit at its length, and is refused with one byte less.
#include "core/alarm.h"
#include "core/xblob.h"
#include "pgp/compression.h"

#include "fuzz_support.h"

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

// zlib's inflate of the stream at the start of `in` with no limit on the
// output, stopped once it passes `cap`; true when the stream ends.
bool Reference(XCompression format, const std::vector<uint8_t>& in, size_t cap, std::vector<uint8_t>& out)
{
    z_stream s{};
    if (inflateInit2(&s, format == XCompression::kZip ? -15 : 15) != Z_OK)
        std::abort();
    s.next_in = const_cast<Bytef*>(in.data());
    s.avail_in = uInt(in.size());
    uint8_t buffer[4096];
    int rc = Z_OK;
    while (rc == Z_OK && out.size() <= cap) {
        s.next_out = buffer;
        s.avail_out = sizeof buffer;
        rc = inflate(&s, Z_NO_FLUSH);
        out.insert(out.end(), buffer, buffer + (sizeof buffer - s.avail_out));
    }
    inflateEnd(&s);
    return rc == Z_STREAM_END;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0 || size > (1u << 16))
        return 0;
    const uint8_t control = data[0];
    const XCompression format = control & 1 ? XCompression::kZlib : XCompression::kZip;
    const std::vector<uint8_t> in(data + 1, data + size);
    const size_t limit = in.size() * ((control >> 1) & 15) / 8 + size_t(control >> 5) * 1000;

    std::vector<uint8_t> expected;
    const bool ends = Reference(format, in, limit, expected);
    const bool fits = ends && expected.size() <= limit;
    try {
        const XBlob out = Decompress(format, in.data(), in.size(), limit);
        FUZZ_CHECK(fits);
        FUZZ_CHECK(out.Capacity() <= limit);
        FUZZ_CHECK(fuzz::Bytes(out) == expected);
    } catch (const XCryptoAlarm& alarm) {
        FUZZ_CHECK(!fits);
        FUZZ_CHECK(fuzz::Is(alarm, XMessage::kDataCorrupted, "PGP"));
        fuzz::CheckAlarmText(alarm);
    }

    const XBlob packed = Compress(format, in.data(), in.size());
    const XBlob back = Decompress(format, packed.Data(), packed.Length(), in.size());
    FUZZ_CHECK(fuzz::Bytes(back) == in);
    if (!in.empty()) {
        try {
            Decompress(format, packed.Data(), packed.Length(), in.size() - 1);
            FUZZ_CHECK(false);
        } catch (const XCryptoAlarm& alarm) {
            FUZZ_CHECK(fuzz::Is(alarm, XMessage::kDataCorrupted, "PGP"));
        }
    }
    return 0;
}
