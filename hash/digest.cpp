#include "hash/digest.h"

#include "core/alarm.h"
#include "core/wipe.h"
#include "hash/md5.h"
#include "hash/ripemd160.h"
#include "hash/sha1.h"
#include "hash/sha256.h"
#include "hash/sha3.h"
#include "hash/sha512.h"

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
    {8, "SHA256", XSha256::kSize, uint32_t(XSha256::kBlockSize), DigestSHA256, NewContext<XSha256>},
    {9, "SHA384", XSha384::kSize, uint32_t(XSha384::kBlockSize), DigestSHA384, NewContext<XSha384>},
    {10, "SHA512", XSha512::kSize, uint32_t(XSha512::kBlockSize), DigestSHA512, NewContext<XSha512>},
    {11, "SHA224", XSha224::kSize, uint32_t(XSha224::kBlockSize), DigestSHA224, NewContext<XSha224>},
    {12, "SHA3-256", XSha3_256::kSize, XSha3_256::kRate, DigestSHA3_256, NewContext<XSha3_256>},
    {14, "SHA3-512", XSha3_512::kSize, XSha3_512::kRate, DigestSHA3_512, NewContext<XSha3_512>},
    // No OpenPGP id: found by name only.
    {0, "SHA512/256", XSha512_256::kSize, uint32_t(XSha512_256::kBlockSize), DigestSHA512_256,
     NewContext<XSha512_256>},
};

const XHashAlgorithm& Require(uint8_t id)
{
    const XHashAlgorithm* row = FindHashAlgorithm(id);
    if (!row)
        Unsupported();
    return *row;
}

char Upper(char c)
{
    return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

// Whether `given` spells `name` (upper case, as the table has it) in either case.
bool SameName(const char* given, const char* name)
{
    for (; *given && *name; ++given, ++name)
        if (Upper(*given) != *name)
            return false;
    return *given == *name;
}

// SameName, or "SHA" in either case, a hyphen, and the rest of a name that
// starts with "SHA".
bool Spells(const char* given, const char* name)
{
    if (SameName(given, name))
        return true;
    return name[0] == 'S' && name[1] == 'H' && name[2] == 'A' && Upper(given[0]) == 'S' && Upper(given[1]) == 'H' &&
           Upper(given[2]) == 'A' && given[3] == '-' && SameName(given + 4, name + 3);
}

} // namespace

XBlob XDigest::Finish()
{
    uint8_t digest[kMaxDigestSize];
    const uint32_t size = Size();
    FinishInto(digest);
    XBlob out(size);
    out.AppendBytes(digest, size);
    SecureWipe(digest, size); // a digest may be key material (string-to-key, HMAC keys)
    return out;
}

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

XBlob DigestSHA224(const XBlob& message)
{
    return OneShot<XSha224>(message);
}

XBlob DigestSHA256(const XBlob& message)
{
    return OneShot<XSha256>(message);
}

XBlob DigestSHA384(const XBlob& message)
{
    return OneShot<XSha384>(message);
}

XBlob DigestSHA512(const XBlob& message)
{
    return OneShot<XSha512>(message);
}

XBlob DigestSHA512_256(const XBlob& message)
{
    return OneShot<XSha512_256>(message);
}

XBlob DigestSHA3_256(const XBlob& message)
{
    return OneShot<XSha3_256>(message);
}

XBlob DigestSHA3_512(const XBlob& message)
{
    return OneShot<XSha3_512>(message);
}

const XHashAlgorithm* HashAlgorithms(size_t& count)
{
    count = sizeof kHashes / sizeof kHashes[0];
    return kHashes;
}

const XHashAlgorithm* FindHashAlgorithm(uint8_t id)
{
    if (id == 0)
        return nullptr;
    for (const XHashAlgorithm& row : kHashes)
        if (row.pgpId == id)
            return &row;
    return nullptr;
}

const XHashAlgorithm* FindHashAlgorithmByName(const char* name)
{
    if (!name)
        return nullptr;
    for (const XHashAlgorithm& row : kHashes)
        if (Spells(name, row.name))
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
