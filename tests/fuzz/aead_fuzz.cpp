// Fuzz target: the AEAD modes (cipher/aead.h) over AES and Twofish against
// OpenSSL (AES-OCB, AES-GCM) and libgcrypt (OCB, EAX and GCM on AES and
// Twofish), linked into this target only.  These must hold:
//
// - nonce lengths outside the mode's range (OCB 1..15, EAX and GCM from 1)
//   raise std::invalid_argument from Seal and Open;
// - Seal gives the peer's ciphertext and tag (OpenSSL for AES-OCB and for
//   AES-GCM with IVs up to its limit of 128 bytes, else libgcrypt, whose OCB
//   takes fewer nonce lengths than ours), in place or not, and Open takes it
//   back;
// - Open refuses the sealed message with one byte of the ciphertext, the tag,
//   the nonce or the associated data changed, and leaves its output zero;
// - fuzzer bytes given to Open are refused the same way unless they are a
//   sealed message (which then seals again to the same bytes);
// - every result is the same with the AES instructions and the portable
//   AES, and with the carry-less multiply and the portable GHASH.
//
// Input: a control byte (bits 0-1: mode, 0 and 3 OCB, 1 EAX, 2 GCM; bit 2:
// Twofish; bits 3-4: AES key of 16, 24 or 32 bytes, 3 also 32; bit 5: in
// place; bit 6: fast AES first; bit 7: carry-less multiply first), a 2-byte
// position and a byte to XOR there (0 counts as 1), then five parts (2-byte
// length and bytes): key (cut or completed with zeros to the key size),
// nonce, associated data, plaintext, foreign sealed message.
#include "cipher/aead.h"
#include "cipher/aes.h"
#include "cipher/ciphers.h"
#include "cipher/ghash.h"
#include "core/xblob.h"
#include "tests/fuzz/fuzz_support.h"

#include <gcrypt.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

using ByteString = std::vector<uint8_t>;

void Select(bool fastAes, bool pclmul)
{
    const AesEngine aes = fastAes && AesEngineAvailable(AesEngine::kVaes)    ? AesEngine::kVaes
                          : fastAes && AesEngineAvailable(AesEngine::kAesNi) ? AesEngine::kAesNi
                                                                              : AesEngine::kPortable;
    const GhashEngine ghash =
        pclmul && GhashEngineAvailable(GhashEngine::kPclmul) ? GhashEngine::kPclmul : GhashEngine::kPortable;
    FUZZ_CHECK(AesSelectEngine(aes) && GhashSelectEngine(ghash));
}

bool NonceLengthAllowed(XAeadMode mode, size_t length)
{
    return length >= 1 && (mode != XAeadMode::kOcb || length <= 15);
}

// --- the peers: ciphertext || tag, or empty when the peer refuses the arguments --------

ByteString OpenSslSeal(XAeadMode mode, const ByteString& key, const ByteString& nonce, const ByteString& ad,
                       const ByteString& plain)
{
    const EVP_CIPHER* cipher =
        mode == XAeadMode::kOcb
            ? (key.size() == 16 ? EVP_aes_128_ocb() : key.size() == 24 ? EVP_aes_192_ocb() : EVP_aes_256_ocb())
            : (key.size() == 16 ? EVP_aes_128_gcm() : key.size() == 24 ? EVP_aes_192_gcm() : EVP_aes_256_gcm());
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    ByteString out(plain.size() + 32);
    int n = 0, tail = 0;
    bool ok = EVP_EncryptInit_ex(ctx, cipher, nullptr, nullptr, nullptr) == 1 &&
              EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_SET_IVLEN, int(nonce.size()), nullptr) == 1 &&
              (mode != XAeadMode::kOcb || EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_SET_TAG, 16, nullptr) == 1) &&
              EVP_EncryptInit_ex(ctx, nullptr, nullptr, key.data(), nonce.data()) == 1;
    if (ok && !ad.empty())
        ok = EVP_EncryptUpdate(ctx, nullptr, &n, ad.data(), int(ad.size())) == 1;
    n = 0;
    if (ok && !plain.empty())
        ok = EVP_EncryptUpdate(ctx, out.data(), &n, plain.data(), int(plain.size())) == 1;
    ok = ok && EVP_EncryptFinal_ex(ctx, out.data() + n, &tail) == 1 &&
         EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_GET_TAG, 16, out.data() + plain.size()) == 1;
    EVP_CIPHER_CTX_free(ctx);
    if (!ok)
        return {};
    out.resize(plain.size() + 16);
    return out;
}

ByteString GcryptSeal(XAeadMode mode, bool twofish, const ByteString& key, const ByteString& nonce,
                      const ByteString& ad, const ByteString& plain)
{
    static const bool ready = [] {
        if (!gcry_check_version(nullptr))
            return false;
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    FUZZ_CHECK(ready);
    const int algorithm = twofish             ? GCRY_CIPHER_TWOFISH
                          : key.size() == 16 ? GCRY_CIPHER_AES128
                          : key.size() == 24 ? GCRY_CIPHER_AES192
                                             : GCRY_CIPHER_AES256;
    const int gmode = mode == XAeadMode::kOcb   ? GCRY_CIPHER_MODE_OCB
                      : mode == XAeadMode::kEax ? GCRY_CIPHER_MODE_EAX
                                                : GCRY_CIPHER_MODE_GCM;
    gcry_cipher_hd_t h = nullptr;
    FUZZ_CHECK(gcry_cipher_open(&h, algorithm, gmode, 0) == 0);
    ByteString out(plain);
    out.resize(plain.size() + 16);
    gcry_error_t e = gcry_cipher_setkey(h, key.data(), key.size());
    FUZZ_CHECK(e == 0);
    e = gcry_cipher_setiv(h, nonce.data(), nonce.size());
    if (!e && !ad.empty())
        e = gcry_cipher_authenticate(h, ad.data(), ad.size());
    if (!e && mode == XAeadMode::kOcb)
        e = gcry_cipher_final(h);
    if (!e)
        e = gcry_cipher_encrypt(h, out.data(), plain.size(), nullptr, 0);
    if (!e)
        e = gcry_cipher_gettag(h, out.data() + plain.size(), 16);
    gcry_cipher_close(h);
    if (e)
        return {};
    return out;
}

// --- ours ----------------------------------------------------------------------------

std::unique_ptr<XAead> Make(XAeadMode mode, bool twofish, const ByteString& key)
{
    const uint8_t id = twofish ? 10 : key.size() == 16 ? 7 : key.size() == 24 ? 8 : 9;
    auto engine = FindCipherAlgorithm(id)->make();
    engine->MakeKey(fuzz::Blob(key), uint32_t(key.size()));
    return XAead::Make(mode, std::move(engine));
}

ByteString Seal(const XAead& aead, const ByteString& nonce, const ByteString& ad, const ByteString& plain,
                bool inPlace)
{
    ByteString out(plain.size() + 16, 0xA5);
    std::copy(plain.begin(), plain.end(), out.begin());
    aead.Seal(nonce.data(), uint32_t(nonce.size()), ad.data(), ad.size(), inPlace ? out.data() : plain.data(),
              out.data(), plain.size(), out.data() + plain.size());
    return out;
}

// Opens ciphertext || tag (at least 16 bytes); on refusal checks that the
// output was zeroed and returns false.
bool Open(const XAead& aead, const ByteString& nonce, const ByteString& ad, const ByteString& sealed, bool inPlace,
          ByteString& plain)
{
    const size_t n = sealed.size() - 16;
    plain.assign(sealed.begin(), sealed.begin() + ptrdiff_t(n));
    if (!inPlace)
        std::fill(plain.begin(), plain.end(), 0x5A);
    const bool right = aead.Open(nonce.data(), uint32_t(nonce.size()), ad.data(), ad.size(),
                                 inPlace ? plain.data() : sealed.data(), plain.data(), n, sealed.data() + n);
    if (!right)
        FUZZ_CHECK(std::all_of(plain.begin(), plain.end(), [](uint8_t b) { return b == 0; }));
    return right;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Reader in(data, size);
    const uint8_t control = in.Byte();
    const uint16_t position = in.Short();
    uint8_t flip = in.Byte();
    if (flip == 0)
        flip = 1;
    const XAeadMode mode = (control & 3) == 1 ? XAeadMode::kEax : (control & 3) == 2 ? XAeadMode::kGcm : XAeadMode::kOcb;
    const bool twofish = control & 4;
    const size_t keySize = twofish ? 32 : ((control >> 3) & 3) == 0 ? 16 : ((control >> 3) & 3) == 1 ? 24 : 32;
    const bool inPlace = control & 0x20, fastFirst = control & 0x40, pclmulFirst = control & 0x80;
    ByteString key = in.Part();
    key.resize(keySize, 0);
    const ByteString nonce = in.Part(), ad = in.Part(), plain = in.Part(), foreign = in.Part();

    ByteString first;
    for (int pass = 0; pass < 2; ++pass) {
        Select(pass == 0 ? fastFirst : !fastFirst, pass == 0 ? pclmulFirst : !pclmulFirst);
        const auto aead = Make(mode, twofish, key);

        if (!NonceLengthAllowed(mode, nonce.size())) {
            bool sealRefused = false, openRefused = false;
            uint8_t tag[16] = {};
            ByteString out(plain.size());
            try {
                aead->Seal(nonce.data(), uint32_t(nonce.size()), ad.data(), ad.size(), plain.data(), out.data(),
                           plain.size(), tag);
            } catch (const std::invalid_argument&) {
                sealRefused = true;
            }
            try {
                aead->Open(nonce.data(), uint32_t(nonce.size()), ad.data(), ad.size(), plain.data(), out.data(),
                           plain.size(), tag);
            } catch (const std::invalid_argument&) {
                openRefused = true;
            }
            FUZZ_CHECK(sealRefused && openRefused);
            return 0;
        }

        const ByteString sealed = Seal(*aead, nonce, ad, plain, inPlace);
        FUZZ_CHECK(sealed == Seal(*aead, nonce, ad, plain, !inPlace));
        if (pass == 0) {
            first = sealed;
            // OpenSSL's GCM takes IVs of up to 128 bytes; libgcrypt any.
            const bool openssl = !twofish && mode != XAeadMode::kEax && nonce.size() <= 128;
            const ByteString peer = openssl ? OpenSslSeal(mode, key, nonce, ad, plain)
                                            : GcryptSeal(mode, twofish, key, nonce, ad, plain);
            // libgcrypt's OCB takes fewer nonce lengths than ours; everything
            // else must be taken and agree.
            FUZZ_CHECK(!peer.empty() || (twofish && mode == XAeadMode::kOcb));
            if (!peer.empty())
                FUZZ_CHECK(peer == sealed);
        } else {
            FUZZ_CHECK(sealed == first);
        }

        ByteString back;
        FUZZ_CHECK(Open(*aead, nonce, ad, sealed, inPlace, back) && back == plain);

        // One byte changed somewhere in ciphertext || tag || nonce || associated data.
        const size_t span = sealed.size() + nonce.size() + ad.size();
        const size_t at = position % span;
        ByteString badSealed = sealed, badNonce = nonce, badAd = ad;
        if (at < sealed.size())
            badSealed[at] ^= flip;
        else if (at < sealed.size() + nonce.size())
            badNonce[at - sealed.size()] ^= flip;
        else
            badAd[at - sealed.size() - nonce.size()] ^= flip;
        FUZZ_CHECK(!Open(*aead, badNonce, badAd, badSealed, !inPlace, back));

        // Foreign bytes open only when they are a sealed message.
        if (foreign.size() >= 16 && Open(*aead, nonce, ad, foreign, inPlace, back))
            FUZZ_CHECK(Seal(*aead, nonce, ad, back, false) == foreign);
    }
    return 0;
}
