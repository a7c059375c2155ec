#include "hash/digest.h"

#include "core/alarm.h"
#include "hash/md5.h"
#include "hash/ripemd160.h"
#include "hash/sha1.h"

namespace {

template <class Context>
XBlob OneShot(const XBlob& message)
{
    Context context;
    context.Update(message);
    return context.Finish();
}

[[noreturn]] void Unsupported()
{
    throw XCryptoAlarm(XMessage::kUnsupportedAlgorithm);
}

template <class Context>
std::unique_ptr<XDigest> NewContext()
{
    return std::make_unique<Context>();
}

const XHashAlgorithm kHashes[] = {
    {1, "MD5", XMd5::kSize, uint32_t(XMd5::kBlockSize), DigestMD5, NewContext<XMd5>},
    {2, "SHA1", XSha1::kSize, uint32_t(XSha1::kBlockSize), DigestSHA1, NewContext<XSha1>},
    {3, "RIPEMD160", XRipemd160::kSize, uint32_t(XRipemd160::kBlockSize), DigestRipemd160, NewContext<XRipemd160>},
};

const XHashAlgorithm& Require(uint8_t id)
{
    const XHashAlgorithm* row = FindHashAlgorithm(id);
    if (!row)
        Unsupported();
    return *row;
}

} // namespace

XBlob DigestMD5(const XBlob& message)
{
    return OneShot<XMd5>(message);
}

XBlob DigestSHA1(const XBlob& message)
{
    return OneShot<XSha1>(message);
}

XBlob DigestRipemd160(const XBlob& message)
{
    return OneShot<XRipemd160>(message);
}

const XHashAlgorithm* HashAlgorithms(size_t& count)
{
    count = sizeof kHashes / sizeof kHashes[0];
    return kHashes;
}

const XHashAlgorithm* FindHashAlgorithm(uint8_t id)
{
    for (const XHashAlgorithm& row : kHashes)
        if (row.id == id)
            return &row;
    return nullptr;
}

DigestFunction HashFunctionById(uint8_t id)
{
    return Require(id).oneShot;
}

uint32_t HashSizeById(uint8_t id)
{
    return Require(id).digestSize;
}

std::unique_ptr<XDigest> NewDigestById(uint8_t id)
{
    return Require(id).newContext();
}
