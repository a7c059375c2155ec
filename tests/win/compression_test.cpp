// The engine's compression in a Windows program: the MinGW build of zlib,
// linked statically, reads a stream the host's zlib wrote and what we write,
// and stops at the limit.
#include "pgp/compression.h"

#include "core/alarm.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<uint8_t> FromHex(const std::string& hex)
{
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(uint8_t(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::string Text()
{
    std::string t;
    for (int i = 0; i < 20; ++i)
        t += "compressed packets hold literal packets; literal packets hold the data. ";
    return t;
}

std::string AsText(const XBlob& b)
{
    return std::string(reinterpret_cast<const char*>(b.Data()), b.Length());
}

// zlib.compressobj(9, DEFLATED, -15) of Text() on the host.
const char kRawStream[] =
    "4bcecf2d284a2d2e4e4d5128484cce4e2d2956c8c8cf4951c8c92c492d4acc81095aa30b40549564a42aa4249624ea29248f9a336acea839a3e68c9a43557300";

TEST(Compression, ReadsAHostStream)
{
    const std::vector<uint8_t> raw = FromHex(kRawStream);
    EXPECT_EQ(AsText(Decompress(XCompression::kZip, raw.data(), raw.size(), 1440)), Text());
    try {
        Decompress(XCompression::kZip, raw.data(), raw.size(), 1439);
        ADD_FAILURE() << "output past the limit was taken";
    } catch (const XCryptoAlarm& alarm) {
        EXPECT_STREQ(alarm.Message(), XMessage::kDataCorrupted);
    }
}

TEST(Compression, RoundTripsBothFormats)
{
    std::string big;
    for (int i = 0; i < 5000; ++i)
        big += Text().substr(size_t(i) % 70, 50) + std::to_string(i);
    for (XCompression format : {XCompression::kZip, XCompression::kZlib}) {
        const auto* data = reinterpret_cast<const uint8_t*>(big.data());
        const XBlob packed = Compress(format, data, big.size());
        EXPECT_LT(packed.Length(), big.size() / 4);
        EXPECT_EQ(AsText(Decompress(format, packed.Data(), packed.Length(), big.size())), big);
        // Truncated: refused.
        EXPECT_THROW(Decompress(format, packed.Data(), packed.Length() - 5, big.size()), XCryptoAlarm);
    }
}

} // namespace
