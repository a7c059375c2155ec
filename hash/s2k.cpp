#include "hash/s2k.h"

#include "core/wipe.h"
#include "hash/digest.h"
#include "hash/md5.h"
#include "hash/sha1.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// The preimage of a derivation: `total` bytes of the endless repetition of
// `pattern`.  It is fed from one buffer of whole repetitions (a few kilobytes
// at most, built once for all digests), which holds password bytes and is
// wiped when it goes.
class XPreimage {
public:
    XPreimage(const XBlob& pattern, uint64_t total) : total_(pattern.Length() ? total : 0)
    {
        const uint32_t unit = pattern.Length();
        if (total_ == 0)
            return;
        const uint64_t needed = (total_ + unit - 1) / unit;
        const size_t copies = size_t(std::min<uint64_t>(needed, std::max<size_t>(1, 8192 / unit)));
        chunk_.resize(copies * unit);
        for (size_t i = 0; i < copies; ++i)
            std::memcpy(chunk_.data() + i * unit, pattern.Data(), unit);
    }
    XPreimage(const XPreimage&) = delete;
    XPreimage& operator=(const XPreimage&) = delete;
    ~XPreimage() { SecureWipe(chunk_.data(), chunk_.size()); }

    void FeedInto(XDigest& digest) const
    {
        if (total_ == 0)
            return;
        uint64_t left = total_;
        while (left >= chunk_.size()) {
            digest.Update(chunk_.data(), chunk_.size());
            left -= chunk_.size();
        }
        // What is left starts on a repetition boundary, so it is a prefix of the chunk.
        digest.Update(chunk_.data(), size_t(left));
    }

private:
    std::vector<uint8_t> chunk_;
    uint64_t total_;
};

// The several-contexts rule: digest i hashes i zero bytes, then the preimage.
// The context that has taken i zero bytes is carried from one digest to the
// next (one more zero byte each time) and cloned for each digest, so the
// cost is the preimage once per digest, not a zero prefix that grows with
// the output.  Every context wipes itself when it goes (it has seen the
// password).
XBlob Derive(uint8_t hash, uint32_t length, const XBlob& pattern, uint64_t preimageLength)
{
    // The digests' own table refuses an unknown id ("Unsupported algorithm")
    // before the preimage is built or anything is hashed.
    std::unique_ptr<XDigest> zeros = NewDigestById(hash);
    const uint32_t size = zeros->Size();
    const XPreimage preimage(pattern, preimageLength);
    static const uint8_t zero = 0;
    XBlob result(length);
    while (result.Length() < length) {
        {
            std::unique_ptr<XDigest> block = zeros->Clone();
            preimage.FeedInto(*block);
            const XBlob digest = block->Finish();
            result.AppendBytes(digest.Data(), std::min(size, length - result.Length()));
        }
        zeros->Update(&zero, 1);
    }
    return result;
}

XBlob Concatenate(const XBlob& first, const XBlob& second)
{
    // Sized once: the joined copy holds the password and is never moved.
    const uint64_t total = uint64_t(first.Length()) + second.Length();
    if (total > UINT32_MAX)
        throw std::bad_alloc();
    XBlob joined(static_cast<uint32_t>(total));
    joined.Append(first);
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
    // The contexts wipe themselves when they go.
    XMd5 md5;
    XSha1 sha1;
    md5.Update(seed);
    sha1.Update(seed);
    XBlob result(length);
    while (result.Length() < length) {
        XMd5 md5Round(md5);
        XSha1 sha1Round(sha1);
        const XBlob a = md5Round.Finish();
        const XBlob b = sha1Round.Finish();
        for (const XBlob* part : {&a, &b}) {
            md5.Update(*part);
            sha1.Update(*part);
            result.AppendBytes(part->Data(), std::min(part->Length(), length - result.Length()));
        }
    }
    return result;
}
