// Fuzz target: AES in GCM, CBC and CTR (cipher/aes_modes.h) against
// references built here one block at a time on the existing block function
// (XAes::EncryptBlock / DecryptBlock) and a bit-by-bit GHASH written from
// SP 800-38D.  These must hold:
//
// - a key of any length but 16, 24 or 32 bytes raises "Invalid key" with no
//   source from every function; tag lengths outside 12..16 and empty GCM IVs
//   raise std::invalid_argument;
// - Seal gives the reference ciphertext and tag for any IV length, Open takes
//   it back, and Open refuses it with one byte changed (the ciphertext, the
//   tag, the additional data or the IV), cut short of the tag, or read with
//   another tag length, raising "Unable to decrypt data"; fuzzer bytes given
//   to Open are refused the same way unless they are a sealed message (which
//   then seals again to the same bytes);
// - CBC equals chaining done block by block (with PKCS#7 padding when asked),
//   decrypts back, and decrypting fuzzer bytes succeeds exactly when the
//   length is whole blocks and (with padding) the last block is valid padding;
// - CTR equals the 128-bit counter advanced block by block from the fuzzer's
//   IV, so counters that wrap are reached;
// - every result is the same with the AES instructions (on 128-bit or on
//   256-bit vectors) and the portable AES, and with the carry-less multiply
//   and the portable GHASH.
//
// Input: a control byte (bits 0-1: key length 16, 24, 32 or the key part's
// own length; bit 2: AES-NI first; bit 3: PCLMULQDQ first; bit 4: PKCS#7;
// bits 5-7: tag length 12 + value), a 2-byte position (its top bit: the AES
// instructions on 256-bit vectors where the CPU has them) and a byte to XOR
// there, then five parts (2-byte length and bytes): key, IV, additional
// data, plaintext, foreign ciphertext.
#include "cipher/aes.h"
#include "cipher/aes_modes.h"
#include "cipher/ghash.h"
#include "core/alarm.h"
#include "core/xblob.h"
#include "tests/fuzz/fuzz_support.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

using fuzz::Blob;
using fuzz::Bytes;

namespace {

using ByteString = std::vector<uint8_t>;

// The 256-bit AES loops when asked for and available.
bool g_wide = false;

void Select(bool aesNi, bool pclmul)
{
    // The fast engines exist on the CPUs these targets run on; elsewhere the
    // portable code simply runs twice.
    const AesEngine fast = g_wide && AesEngineAvailable(AesEngine::kVaes) ? AesEngine::kVaes : AesEngine::kAesNi;
    const AesEngine aes = aesNi && AesEngineAvailable(fast) ? fast : AesEngine::kPortable;
    const GhashEngine ghash =
        pclmul && GhashEngineAvailable(GhashEngine::kPclmul) ? GhashEngine::kPclmul : GhashEngine::kPortable;
    FUZZ_CHECK(AesSelectEngine(aes) && AesActiveEngine() == aes);
    FUZZ_CHECK(GhashSelectEngine(ghash) && GhashActiveEngine() == ghash);
}

// --- references ---------------------------------------------------------------------

// GF(2^128) as SP 800-38D, Algorithm 1, on the 16-byte strings themselves.
void GfMultiply(uint8_t* x, const uint8_t* y)
{
    uint8_t z[16] = {}, v[16];
    std::memcpy(v, y, 16);
    for (int i = 0; i < 128; ++i) {
        if ((x[i / 8] >> (7 - i % 8)) & 1)
            for (int j = 0; j < 16; ++j)
                z[j] ^= v[j];
        const bool carry = v[15] & 1;
        for (int j = 15; j > 0; --j)
            v[j] = uint8_t(v[j] >> 1 | v[j - 1] << 7);
        v[0] >>= 1;
        if (carry)
            v[0] ^= 0xe1;
    }
    std::memcpy(x, z, 16);
}

// y absorbs the data, its last block completed with zeros.
void Ghash(uint8_t* y, const uint8_t* h, const ByteString& data)
{
    for (size_t i = 0; i < data.size(); i += 16) {
        for (size_t j = 0; j < 16 && i + j < data.size(); ++j)
            y[j] ^= data[i + j];
        GfMultiply(y, h);
    }
}

void GhashLengths(uint8_t* y, const uint8_t* h, uint64_t first, uint64_t second)
{
    ByteString block(16);
    for (int i = 0; i < 8; ++i) {
        block[i] = uint8_t(first * 8 >> (56 - 8 * i));
        block[8 + i] = uint8_t(second * 8 >> (56 - 8 * i));
    }
    Ghash(y, h, block);
}

ByteString ReferenceSeal(const XAes& aes, const ByteString& iv, const ByteString& aad, const ByteString& plain,
                         size_t tagLength)
{
    uint8_t h[16] = {};
    aes.EncryptBlock(h, h);
    uint8_t counter[16] = {};
    if (iv.size() == 12) {
        std::memcpy(counter, iv.data(), 12);
        counter[15] = 1;
    } else {
        Ghash(counter, h, iv);
        GhashLengths(counter, h, 0, iv.size());
    }
    uint8_t j0[16];
    std::memcpy(j0, counter, 16);
    ByteString out(plain.size());
    for (size_t i = 0; i < plain.size(); i += 16) {
        // inc32: the last four bytes as a number modulo 2^32.
        for (int j = 15; j >= 12 && ++counter[j] == 0; --j) {
        }
        uint8_t stream[16];
        aes.EncryptBlock(counter, stream);
        for (size_t j = 0; j < 16 && i + j < plain.size(); ++j)
            out[i + j] = uint8_t(plain[i + j] ^ stream[j]);
    }
    uint8_t y[16] = {};
    Ghash(y, h, aad);
    Ghash(y, h, out);
    GhashLengths(y, h, aad.size(), out.size());
    uint8_t tag[16];
    aes.EncryptBlock(j0, tag);
    for (size_t j = 0; j < tagLength; ++j)
        out.push_back(uint8_t(tag[j] ^ y[j]));
    return out;
}

ByteString ReferenceCbcEncrypt(const XAes& aes, const ByteString& iv, ByteString plain, bool pkcs7)
{
    if (pkcs7)
        plain.insert(plain.end(), 16 - plain.size() % 16, uint8_t(16 - plain.size() % 16));
    ByteString out(plain.size());
    uint8_t chain[16];
    std::memcpy(chain, iv.data(), 16);
    for (size_t i = 0; i < plain.size(); i += 16) {
        for (int j = 0; j < 16; ++j)
            chain[j] ^= plain[i + j];
        aes.EncryptBlock(chain, chain);
        std::memcpy(out.data() + i, chain, 16);
    }
    return out;
}

// Deciphered blocks, padding left on.
ByteString ReferenceCbcDecrypt(const XAes& aes, const ByteString& iv, const ByteString& data)
{
    ByteString out(data.size());
    for (size_t i = 0; i < data.size(); i += 16) {
        aes.DecryptBlock(data.data() + i, out.data() + i);
        for (int j = 0; j < 16; ++j)
            out[i + j] ^= i ? data[i - 16 + j] : iv[j];
    }
    return out;
}

// The padding length of a valid PKCS#7 ending, or 0.
size_t ValidPadding(const ByteString& plain)
{
    if (plain.size() < 16)
        return 0;
    const size_t p = plain.back();
    if (p < 1 || p > 16)
        return 0;
    for (size_t i = plain.size() - p; i < plain.size(); ++i)
        if (plain[i] != p)
            return 0;
    return p;
}

ByteString ReferenceCtr(const XAes& aes, const ByteString& iv, const ByteString& data)
{
    uint8_t counter[16];
    std::memcpy(counter, iv.data(), 16);
    ByteString out(data.size());
    for (size_t i = 0; i < data.size(); i += 16) {
        uint8_t stream[16];
        aes.EncryptBlock(counter, stream);
        for (size_t j = 0; j < 16 && i + j < data.size(); ++j)
            out[i + j] = uint8_t(data[i + j] ^ stream[j]);
        for (int j = 15; j >= 0 && ++counter[j] == 0; --j) {
        }
    }
    return out;
}

// --- checks ------------------------------------------------------------------------

template <typename Call>
void ExpectAlarm(Call&& call, const char* message)
{
    try {
        call();
    } catch (const XAlarm& alarm) {
        fuzz::CheckAlarmText(alarm);
        FUZZ_CHECK(fuzz::Is(alarm, message, nullptr));
        return;
    }
    FUZZ_CHECK(false);
}

template <typename Call>
void ExpectInvalidArgument(Call&& call)
{
    try {
        call();
    } catch (const std::invalid_argument&) {
        return;
    }
    FUZZ_CHECK(false);
}

bool Opens(const XAesGcm& gcm, const ByteString& iv, const ByteString& aad, const ByteString& sealed,
           uint32_t tagLength, ByteString* plain = nullptr)
{
    try {
        const XBlob out = gcm.Open(Blob(iv), Blob(aad), Blob(sealed), tagLength);
        if (plain)
            *plain = Bytes(out);
        return true;
    } catch (const XAlarm& alarm) {
        fuzz::CheckAlarmText(alarm);
        FUZZ_CHECK(fuzz::Is(alarm, XMessage::kUnableToDecrypt, nullptr));
        return false;
    }
}

void CheckGcm(const ByteString& key, ByteString iv, const ByteString& aad, const ByteString& plain,
              const ByteString& foreign, uint32_t tagLength, size_t position, uint8_t flip, bool aesNi, bool pclmul)
{
    const XAesGcm gcm(Blob(key));
    if (tagLength > XAesGcm::kMaxTagLength) {
        ExpectInvalidArgument([&] { gcm.Seal(Blob(iv), Blob(aad), Blob(plain), tagLength); });
        ExpectInvalidArgument([&] { gcm.Open(Blob(iv), Blob(aad), Blob(foreign), tagLength); });
        tagLength = XAesGcm::kMaxTagLength;
    }
    if (iv.empty()) {
        ExpectInvalidArgument([&] { gcm.Seal(Blob(iv), Blob(aad), Blob(plain), tagLength); });
        ExpectInvalidArgument([&] { gcm.Open(Blob(iv), Blob(aad), Blob(foreign), tagLength); });
        iv.push_back(0);
    }
    XAes aes;
    aes.MakeKey(Blob(key), uint32_t(key.size()));
    const ByteString sealed = Bytes(gcm.Seal(Blob(iv), Blob(aad), Blob(plain), tagLength));
    FUZZ_CHECK(sealed == ReferenceSeal(aes, iv, aad, plain, tagLength));
    ByteString opened;
    FUZZ_CHECK(Opens(gcm, iv, aad, sealed, tagLength, &opened) && opened == plain);

    // One byte changed anywhere is refused.
    ByteString bad = sealed;
    bad[position % bad.size()] ^= flip;
    FUZZ_CHECK(!Opens(gcm, iv, aad, bad, tagLength));
    if (!aad.empty()) {
        ByteString otherAad = aad;
        otherAad[position % aad.size()] ^= flip;
        FUZZ_CHECK(!Opens(gcm, iv, otherAad, sealed, tagLength));
    }
    ByteString otherIv = iv;
    otherIv[position % iv.size()] ^= flip;
    FUZZ_CHECK(!Opens(gcm, otherIv, aad, sealed, tagLength));
    // Cut short, and read with another tag length.
    FUZZ_CHECK(!Opens(gcm, iv, aad, ByteString(sealed.begin(), sealed.begin() + std::ptrdiff_t(position % tagLength)),
                      tagLength));
    const uint32_t otherLength = tagLength == 16 ? 12 : tagLength + 1;
    FUZZ_CHECK(!Opens(gcm, iv, aad, sealed, otherLength));

    // Fuzzer bytes: refused, unless they are a sealed message.
    ByteString foreignPlain;
    if (Opens(gcm, iv, aad, foreign, tagLength, &foreignPlain))
        FUZZ_CHECK(Bytes(gcm.Seal(Blob(iv), Blob(aad), Blob(foreignPlain), tagLength)) == foreign);

    // The other implementations seal the same bytes.
    Select(!aesNi, !pclmul);
    FUZZ_CHECK(Bytes(gcm.Seal(Blob(iv), Blob(aad), Blob(plain), tagLength)) == sealed);
    FUZZ_CHECK(Opens(gcm, iv, aad, sealed, tagLength, &opened) && opened == plain);
    FUZZ_CHECK(!Opens(gcm, iv, aad, bad, tagLength));
    Select(aesNi, pclmul);
}

void CheckCbcAndCtr(const ByteString& key, ByteString iv, const ByteString& plain, const ByteString& foreign,
                    bool pkcs7, bool aesNi, bool pclmul)
{
    if (iv.size() != 16) {
        ExpectInvalidArgument([&] { AesCbcEncrypt(Blob(key), Blob(iv), Blob(plain), true); });
        ExpectInvalidArgument([&] { AesCbcDecrypt(Blob(key), Blob(iv), Blob(foreign), false); });
        ExpectInvalidArgument([&] { AesCtr(Blob(key), Blob(iv), Blob(plain)); });
        iv.resize(16, 0xff);
    }
    XAes aes;
    aes.MakeKey(Blob(key), uint32_t(key.size()));

    const bool whole = plain.size() % 16 == 0;
    if (!pkcs7 && !whole) {
        ExpectInvalidArgument([&] { AesCbcEncrypt(Blob(key), Blob(iv), Blob(plain), false); });
    } else {
        const ByteString cbc = Bytes(AesCbcEncrypt(Blob(key), Blob(iv), Blob(plain), pkcs7));
        FUZZ_CHECK(cbc == ReferenceCbcEncrypt(aes, iv, plain, pkcs7));
        FUZZ_CHECK(Bytes(AesCbcDecrypt(Blob(key), Blob(iv), Blob(cbc), pkcs7)) == plain);
        Select(!aesNi, !pclmul);
        FUZZ_CHECK(Bytes(AesCbcEncrypt(Blob(key), Blob(iv), Blob(plain), pkcs7)) == cbc);
        FUZZ_CHECK(Bytes(AesCbcDecrypt(Blob(key), Blob(iv), Blob(cbc), pkcs7)) == plain);
        Select(aesNi, pclmul);
    }

    // The plaintext's whole blocks enciphered without padding and deciphered
    // with it: the padding check sees the fuzzer's own last block.
    if (whole && !plain.empty()) {
        const XBlob cbc = AesCbcEncrypt(Blob(key), Blob(iv), Blob(plain), false);
        const size_t padding = ValidPadding(plain);
        try {
            const ByteString got = Bytes(AesCbcDecrypt(Blob(key), Blob(iv), cbc, true));
            FUZZ_CHECK(padding != 0 && got == ByteString(plain.begin(), plain.end() - std::ptrdiff_t(padding)));
        } catch (const XAlarm& alarm) {
            fuzz::CheckAlarmText(alarm);
            FUZZ_CHECK(fuzz::Is(alarm, XMessage::kUnableToDecrypt, nullptr));
            FUZZ_CHECK(padding == 0);
        }
    }

    // Fuzzer ciphertext: whole blocks decrypt, ending in valid padding when
    // padding is expected.
    ByteString expected;
    bool decrypts = foreign.size() % 16 == 0 && !(pkcs7 && foreign.empty());
    if (decrypts) {
        expected = ReferenceCbcDecrypt(aes, iv, foreign);
        if (pkcs7) {
            const size_t padding = ValidPadding(expected);
            decrypts = padding != 0;
            expected.resize(expected.size() - padding);
        }
    }
    try {
        const ByteString got = Bytes(AesCbcDecrypt(Blob(key), Blob(iv), Blob(foreign), pkcs7));
        FUZZ_CHECK(decrypts && got == expected);
    } catch (const XAlarm& alarm) {
        fuzz::CheckAlarmText(alarm);
        FUZZ_CHECK(fuzz::Is(alarm, XMessage::kUnableToDecrypt, nullptr));
        FUZZ_CHECK(!decrypts);
    }

    const ByteString ctr = Bytes(AesCtr(Blob(key), Blob(iv), Blob(plain)));
    FUZZ_CHECK(ctr == ReferenceCtr(aes, iv, plain));
    FUZZ_CHECK(Bytes(AesCtr(Blob(key), Blob(iv), Blob(ctr))) == plain);
    Select(!aesNi, !pclmul);
    FUZZ_CHECK(Bytes(AesCtr(Blob(key), Blob(iv), Blob(plain))) == ctr);
    Select(aesNi, pclmul);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 17))
        return 0;
    fuzz::Reader in(data, size);
    const uint8_t control = in.Byte();
    const bool aesNi = control & 0x04, pclmul = control & 0x08, pkcs7 = control & 0x10;
    const uint32_t tagLength = XAesGcm::kMinTagLength + (control >> 5);
    const uint16_t positionField = in.Short();
    g_wide = positionField & 0x8000;
    const size_t position = positionField & 0x7fff;
    const uint8_t flip = uint8_t(in.Byte() | 1); // never zero
    ByteString key = in.Part();
    const ByteString iv = in.Part(), aad = in.Part(), plain = in.Part(), foreign = in.Part();

    Select(aesNi, pclmul);
    static const size_t kKeyLengths[] = {16, 24, 32};
    if ((control & 3) != 3) {
        key.resize(kKeyLengths[control & 3], 0x5a);
    } else if (key.size() != 16 && key.size() != 24 && key.size() != 32) {
        const ByteString iv16(16, 0);
        ExpectAlarm([&] { XAesGcm gcm(Blob(key)); }, XMessage::kInvalidKey);
        ExpectAlarm([&] { AesCbcEncrypt(Blob(key), Blob(iv16), Blob(plain), true); }, XMessage::kInvalidKey);
        ExpectAlarm([&] { AesCbcDecrypt(Blob(key), Blob(iv16), Blob(foreign), true); }, XMessage::kInvalidKey);
        ExpectAlarm([&] { AesCtr(Blob(key), Blob(iv), Blob(plain)); }, XMessage::kInvalidKey);
        return 0;
    }
    CheckGcm(key, iv, aad, plain, foreign, tagLength, position, flip, aesNi, pclmul);
    CheckCbcAndCtr(key, iv, plain, foreign, pkcs7, aesNi, pclmul);
    return 0;
}
