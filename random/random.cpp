#include "random/random.h"

#include "hash/digest.h"

#include <ctime>

namespace {

uint32_t CalendarSeconds()
{
    return uint32_t(std::time(nullptr));
}

// seed += addend, both 16-byte big-endian numbers; the carry out of byte 0 is dropped.
void AddBigEndian(XBlob& seed, const XBlob& addend)
{
    unsigned carry = 0;
    for (int i = 15; i >= 0; --i) {
        const unsigned sum = unsigned(seed.At(uint32_t(i))) + addend.At(uint32_t(i)) + carry;
        seed.At(uint32_t(i)) = uint8_t(sum);
        carry = sum >> 8;
    }
}

void Increment(XBlob& seed)
{
    for (int i = 15; i >= 0 && ++seed.At(uint32_t(i)) == 0; --i) {
    }
}

} // namespace

XRandomSources SystemRandomSources()
{
    return XRandomSources{CalendarSeconds, SystemEntropy};
}

XBlob RandomBlob(uint32_t count)
{
    return RandomBlob(count, SystemRandomSources());
}

XBlob RandomBlob(uint32_t count, const XRandomSources& sources)
{
    XBlob seed(16);
    seed.AppendLong(sources.clock());
    const XBlob timeDigest = DigestMD5(seed);
    seed.SetLength(16);
    sources.entropy(seed.Data() + 4, 12);
    AddBigEndian(seed, timeDigest);

    // The whole output is allocated up front: a request that cannot be held
    // fails at once instead of after hashing.
    XBlob output(count);
    uint32_t wanted = count;
    while (wanted > 16) {
        wanted -= 16;
        const XBlob block = DigestMD5(seed);
        output.AppendBytes(block.Data(), 16);
        Increment(seed);
    }
    const XBlob last = DigestMD5(seed);
    output.AppendBytes(last.Data(), wanted);
    return output;
}
