#include "cipher/ciphers.h"

#include "cipher/aes.h"
#include "cipher/blowfish.h"
#include "cipher/cast.h"
#include "cipher/triple_des.h"
#include "cipher/twofish.h"

namespace {

template <class Engine>
std::unique_ptr<XBlockCipher> Make()
{
    return std::make_unique<Engine>();
}

const XCipherAlgorithm kCiphers[] = {
    {2, "TripleDES", 8, 24, Make<XTripleDes>},
    {3, "CAST5", 8, 16, Make<XCast>},
    {4, "Blowfish", 8, 16, Make<XBlowfish>},
    {7, "AES128", 16, 16, Make<XAes>},
    {8, "AES192", 16, 24, Make<XAes>},
    {9, "AES256", 16, 32, Make<XAes>},
    {10, "Twofish", 16, 32, Make<XTwofish>},
};

} // namespace

const XCipherAlgorithm* CipherAlgorithms(size_t& count)
{
    count = sizeof kCiphers / sizeof kCiphers[0];
    return kCiphers;
}

const XCipherAlgorithm* FindCipherAlgorithm(uint8_t pgpId)
{
    for (const XCipherAlgorithm& row : kCiphers)
        if (row.pgpId == pgpId)
            return &row;
    return nullptr;
}
