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

// Hash algorithm ids are the OpenPGP numbers.
enum : uint8_t { kIdMd5 = 1, kIdSha1 = 2, kIdRipemd160 = 3 };

[[noreturn]] void Unsupported()
{
    throw XCryptoAlarm(XMessage::kUnsupportedAlgorithm);
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

DigestFunction HashFunctionById(uint8_t id)
{
    switch (id) {
    case kIdMd5:
        return DigestMD5;
    case kIdSha1:
        return DigestSHA1;
    case kIdRipemd160:
        return DigestRipemd160;
    }
    Unsupported();
}

uint32_t HashSizeById(uint8_t id)
{
    switch (id) {
    case kIdMd5:
        return XMd5::kSize;
    case kIdSha1:
        return XSha1::kSize;
    case kIdRipemd160:
        return XRipemd160::kSize;
    }
    Unsupported();
}

std::unique_ptr<XDigest> NewDigestById(uint8_t id)
{
    switch (id) {
    case kIdMd5:
        return std::make_unique<XMd5>();
    case kIdSha1:
        return std::make_unique<XSha1>();
    case kIdRipemd160:
        return std::make_unique<XRipemd160>();
    }
    Unsupported();
}
