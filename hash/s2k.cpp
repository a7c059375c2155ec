#include "hash/s2k.h"

#include "hash/digest.h"
#include "hash/md5.h"
#include "hash/sha1.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// Feeds `total` bytes of the endless repetition of `pattern` into a digest,
// in chunks of whole repetitions, never holding more than a few kilobytes.
void UpdateRepeated(XDigest& digest, const uint8_t* pattern, uint32_t patternLength, uint64_t total)
{
    if (patternLength == 0 || total == 0)
        return;
    const size_t copies = std::max<size_t>(1, 8192 / patternLength);
    std::vector<uint8_t> chunk(copies * patternLength);
    for (size_t i = 0; i < copies; ++i)
        std::memcpy(chunk.data() + i * patternLength, pattern, patternLength);
    while (total >= chunk.size()) {
        digest.Update(chunk.data(), chunk.size());
        total -= chunk.size();
    }
    // What is left starts on a repetition boundary, so it is a prefix of the chunk.
    digest.Update(chunk.data(), size_t(total));
}

void UpdateZeros(XDigest& digest, uint32_t count)
{
    static const uint8_t zeros[256] = {};
    while (count > 0) {
        const uint32_t n = std::min<uint32_t>(count, sizeof zeros);
        digest.Update(zeros, n);
        count -= n;
    }
}

// The several-contexts rule: digest i hashes i zero bytes, then the preimage
// (`preimageLength` bytes of the repetition of `pattern`).
XBlob Derive(uint8_t hash, uint32_t length, const XBlob& pattern, uint64_t preimageLength)
{
    std::unique_ptr<XDigest> digest = NewDigestById(hash);
    const uint32_t size = digest->Size();
    const uint32_t count = length / size + (length % size ? 1 : 0);
    XBlob result(length);
    for (uint32_t i = 0; i < count; ++i) {
        digest->Reset();
        UpdateZeros(*digest, i);
        UpdateRepeated(*digest, pattern.Data(), pattern.Length(), preimageLength);
        const XBlob block = digest->Finish();
        result.AppendBytes(block.Data(), std::min(size, length - result.Length()));
    }
    return result;
}

XBlob Concatenate(const XBlob& first, const XBlob& second)
{
    XBlob joined(first);
    joined.Append(second);
    return joined;
}

} // namespace

uint32_t S2KCount(uint32_t passes)
{
    const uint32_t shift = ((passes >> 4) + 6) & 31;
    return (16 + (passes & 15)) << shift;
}

XBlob S2KSimple(uint8_t hash, uint32_t length, const XBlob& password)
{
    return Derive(hash, length, password, password.Length());
}

XBlob S2KSalted(uint8_t hash, uint32_t length, const XBlob& password, const XBlob& salt)
{
    const XBlob preimage = Concatenate(salt, password);
    return Derive(hash, length, preimage, preimage.Length());
}

XBlob S2KIterated(uint8_t hash, uint32_t length, const XBlob& password, const XBlob& salt, uint32_t passes)
{
    // Salt and password repeated up to the count, and at least once whole.
    const XBlob pattern = Concatenate(salt, password);
    const uint32_t count = S2KCount(passes);
    return Derive(hash, length, pattern, std::max(count, pattern.Length()));
}

XBlob ExpandSeed(const XBlob& seed, uint32_t length)
{
    // t grows by the 36 bytes of each round, so running contexts over t are
    // carried along and copied for each round's digests instead of hashing t
    // from the start every time.
    XMd5 md5;
    XSha1 sha1;
    md5.Reset();
    sha1.Reset();
    md5.Update(seed);
    sha1.Update(seed);
    XBlob result(length);
    while (result.Length() < length) {
        const XBlob a = XMd5(md5).Finish();
        const XBlob b = XSha1(sha1).Finish();
        for (const XBlob* part : {&a, &b}) {
            md5.Update(*part);
            sha1.Update(*part);
            result.AppendBytes(part->Data(), std::min(part->Length(), length - result.Length()));
        }
    }
    return result;
}
