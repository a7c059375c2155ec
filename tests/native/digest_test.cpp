// MD5, SHA-1, RIPEMD-160, SHA-224, SHA-256, SHA-384, SHA-512, SHA-512/256,
// SHA3-256 and SHA3-512: the published test vectors, agreement with
// OpenSSL's libcrypto over many lengths and alignments, incremental feeding
// against one-shot, the lookups by id and by name, and both compression
// engines of SHA-1, SHA-256 and SHA-512.
#include "hash/digest.h"

#include "core/alarm.h"
#include "hash/sha1.h"
#include "hash/sha256.h"
#include "hash/sha512.h"

#include "test_support.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>
#include <ostream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace test_support;

// --- the independent implementation ------------------------------------

struct EvpContextDeleter {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

// --- the variants under test ---------------------------------------------

// SHA-1, SHA-256 (with SHA-224) and SHA-512 (with SHA-384 and SHA-512/256)
// each have a portable compression and one for x86 CPUs that have the
// instructions it needs; a variant runs its family on one of them.
enum class Family { kOther, kSha1, kSha256, kSha512 };

struct Variant {
    const char* name;
    const char* row; // the hash table's name for it
    DigestFunction function;
    const EVP_MD* (*evp)();
    uint32_t size;
    Family family;
    bool fast; // the CPU-specific engine of the family
};

const Variant kVariants[] = {
    {"MD5", "MD5", DigestMD5, EVP_md5, 16, Family::kOther, false},
    {"SHA1_Portable", "SHA1", DigestSHA1, EVP_sha1, 20, Family::kSha1, false},
    {"SHA1_ShaExtensions", "SHA1", DigestSHA1, EVP_sha1, 20, Family::kSha1, true},
    {"RIPEMD160", "RIPEMD160", DigestRipemd160, EVP_ripemd160, 20, Family::kOther, false},
    {"SHA224_Portable", "SHA224", DigestSHA224, EVP_sha224, 28, Family::kSha256, false},
    {"SHA224_ShaExtensions", "SHA224", DigestSHA224, EVP_sha224, 28, Family::kSha256, true},
    {"SHA256_Portable", "SHA256", DigestSHA256, EVP_sha256, 32, Family::kSha256, false},
    {"SHA256_ShaExtensions", "SHA256", DigestSHA256, EVP_sha256, 32, Family::kSha256, true},
    {"SHA384_Portable", "SHA384", DigestSHA384, EVP_sha384, 48, Family::kSha512, false},
    {"SHA384_Avx2Bmi2", "SHA384", DigestSHA384, EVP_sha384, 48, Family::kSha512, true},
    {"SHA512_Portable", "SHA512", DigestSHA512, EVP_sha512, 64, Family::kSha512, false},
    {"SHA512_Avx2Bmi2", "SHA512", DigestSHA512, EVP_sha512, 64, Family::kSha512, true},
    {"SHA512_256_Portable", "SHA512/256", DigestSHA512_256, EVP_sha512_256, 32, Family::kSha512, false},
    {"SHA512_256_Avx2Bmi2", "SHA512/256", DigestSHA512_256, EVP_sha512_256, 32, Family::kSha512, true},
    {"SHA3_256", "SHA3-256", DigestSHA3_256, EVP_sha3_256, 32, Family::kOther, false},
    {"SHA3_512", "SHA3-512", DigestSHA3_512, EVP_sha3_512, 64, Family::kOther, false},
};

// GoogleTest shows the parameter by this (ctest names the tests after it).
void PrintTo(const Variant& v, std::ostream* out)
{
    *out << v.name;
}

// Whether this CPU runs the family's fast engine.
bool HaveFastEngine(Family family)
{
    switch (family) {
    case Family::kSha1: return Sha1EngineAvailable(Sha1Engine::kShaExtensions);
    case Family::kSha256: return Sha256EngineAvailable(Sha256Engine::kShaExtensions);
    case Family::kSha512: return Sha512EngineAvailable(Sha512Engine::kAvx2Bmi2);
    case Family::kOther: break;
    }
    return false;
}

// The family on its fast or its portable engine; false when this CPU
// cannot run the one asked for.
bool SelectEngine(Family family, bool fast)
{
    switch (family) {
    case Family::kSha1: return Sha1SelectEngine(fast ? Sha1Engine::kShaExtensions : Sha1Engine::kPortable);
    case Family::kSha256: return Sha256SelectEngine(fast ? Sha256Engine::kShaExtensions : Sha256Engine::kPortable);
    case Family::kSha512: return Sha512SelectEngine(fast ? Sha512Engine::kAvx2Bmi2 : Sha512Engine::kPortable);
    case Family::kOther: break;
    }
    return !fast;
}

// What the process picks by itself: the fast engine wherever there is one.
void SelectBestEngines()
{
    for (Family family : {Family::kSha1, Family::kSha256, Family::kSha512})
        SelectEngine(family, HaveFastEngine(family));
}

class DigestTest : public ::testing::TestWithParam<Variant> {
protected:
    void SetUp() override
    {
        if (!SelectEngine(GetParam().family, GetParam().fast))
            GTEST_SKIP() << "this CPU lacks the instructions of " << GetParam().name;
        row_ = FindHashAlgorithmByName(GetParam().row);
        ASSERT_NE(row_, nullptr);
    }
    void TearDown() override { SelectBestEngines(); }

    const Variant& V() const { return GetParam(); }
    Bytes Ours(const Bytes& m) const { return Content(V().function(BlobOf(m))); }
    Bytes Reference(const uint8_t* p, size_t n) const { return OpenSslDigest(V().evp(), p, n); }
    Bytes Reference(const Bytes& m) const { return Reference(m.data(), m.size()); }
    std::unique_ptr<XDigest> Context() const { return row_->newContext(); }

    const XHashAlgorithm* row_ = nullptr;
};

// --- published vectors ---------------------------------------------------

struct Vector {
    const char* row;  // the hash table's name
    const char* text; // repeated `times` times
    uint32_t times;
    const char* digest;
};

const char kAlnum[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
// FIPS 180-4's two-block messages for 64-byte blocks (448 bits) and for
// 128-byte blocks (896 bits).
const char kTwoBlock[] = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
const char kTwoWideBlocks[] = "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu";

const Vector kVectors[] = {
    // RFC 1321, appendix A.5.
    {"MD5", "", 1, "d41d8cd98f00b204e9800998ecf8427e"},
    {"MD5", "a", 1, "0cc175b9c0f1b6a831c399e269772661"},
    {"MD5", "abc", 1, "900150983cd24fb0d6963f7d28e17f72"},
    {"MD5", "message digest", 1, "f96b697d7cb7938d525a2f31aaf161d0"},
    {"MD5", "abcdefghijklmnopqrstuvwxyz", 1, "c3fcd3d76192e4007dfb496cca67e13b"},
    {"MD5", kAlnum, 1, "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"MD5", "1234567890", 8, "57edf4a22be3c955ac49da2e2107b67a"},
    // FIPS 180 examples, and the empty message.
    {"SHA1", "", 1, "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
    {"SHA1", "abc", 1, "a9993e364706816aba3e25717850c26c9cd0d89d"},
    {"SHA1", kTwoBlock, 1, "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
    {"SHA1", "a", 1000000, "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
    // The RIPEMD-160 designers' test set.
    {"RIPEMD160", "", 1, "9c1185a5c5e9fc54612808977ee8f548b2258d31"},
    {"RIPEMD160", "a", 1, "0bdc9d2d256b3ee9daae347be6f4dc835a467ffe"},
    {"RIPEMD160", "abc", 1, "8eb208f7e05d987a9b044a8e98c6b087f15a0bfc"},
    {"RIPEMD160", "message digest", 1, "5d0689ef49d2fae572b881b123a85ffa21595f36"},
    {"RIPEMD160", "abcdefghijklmnopqrstuvwxyz", 1, "f71c27109c692c1b56bbdceb5b9d2865b3708dbc"},
    {"RIPEMD160", kTwoBlock, 1, "12a053384a9c0c88e405a06c27dcf49ada62eb2b"},
    {"RIPEMD160", kAlnum, 1, "b0e20b6e3116640286ed3a87a5713079b21f5189"},
    {"RIPEMD160", "1234567890", 8, "9b752e45573d4b39f4dbd3323cab82bf63326bfb"},
    {"RIPEMD160", "a", 1000000, "52783243c1697bdbe16d37f97f68f08325dc1528"},
    // FIPS 180-4 examples (the empty message, "abc", the 448-bit and the
    // 896-bit messages, a million times "a").
    {"SHA224", "", 1, "d14a028c2a3a2bc9476102bb288234c415a2b01f828ea62ac5b3e42f"},
    {"SHA224", "abc", 1, "23097d223405d8228642a477bda255b32aadbce4bda0b3f7e36c9da7"},
    {"SHA224", kTwoBlock, 1, "75388b16512776cc5dba5da1fd890150b0c6455cb4f58b1952522525"},
    {"SHA224", kTwoWideBlocks, 1, "c97ca9a559850ce97a04a96def6d99a9e0e0e2ab14e6b8df265fc0b3"},
    {"SHA224", "a", 1000000, "20794655980c91d8bbb4c1ea97618a4bf03f42581948b2ee4ee7ad67"},
    {"SHA256", "", 1, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"SHA256", "abc", 1, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"SHA256", kTwoBlock, 1, "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {"SHA256", kTwoWideBlocks, 1, "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
    {"SHA256", "a", 1000000, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    {"SHA384", "", 1,
     "38b060a751ac96384cd9327eb1b1e36a21fdb71114be07434c0cc7bf63f6e1da274edebfe76f65fbd51ad2f14898b95b"},
    {"SHA384", "abc", 1,
     "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7"},
    {"SHA384", kTwoBlock, 1,
     "3391fdddfc8dc7393707a65b1b4709397cf8b1d162af05abfe8f450de5f36bc6b0455a8520bc4e6f5fe95b1fe3c8452b"},
    {"SHA384", kTwoWideBlocks, 1,
     "09330c33f71147e83d192fc782cd1b4753111b173b3b05d22fa08086e3b0f712fcc7c71a557e2db966c3e9fa91746039"},
    {"SHA384", "a", 1000000,
     "9d0e1809716474cb086e834e310a4a1ced149e9c00f248527972cec5704c2a5b07b8b3dc38ecc4ebae97ddd87f3d8985"},
    {"SHA512", "", 1,
     "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce"
     "47d0d13c5d85f2b0ff8318d2877eec2f63b931bd47417a81a538327af927da3e"},
    {"SHA512", "abc", 1,
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
     "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f"},
    {"SHA512", kTwoBlock, 1,
     "204a8fc6dda82f0a0ced7beb8e08a41657c16ef468b228a8279be331a703c335"
     "96fd15c13b1b07f9aa1d3bea57789ca031ad85c7a71dd70354ec631238ca3445"},
    {"SHA512", kTwoWideBlocks, 1,
     "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018"
     "501d289e4900f7e4331b99dec4b5433ac7d329eeb6dd26545e96e55b874be909"},
    {"SHA512", "a", 1000000,
     "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973eb"
     "de0ff244877ea60a4cb0432ce577c31beb009c5c2c49aa2e4eadb217ad8cc09b"},
    {"SHA512/256", "", 1, "c672b8d1ef56ed28ab87c3622c5114069bdd3ad7b8f9737498d0c01ecef0967a"},
    {"SHA512/256", "abc", 1, "53048e2681941ef99b2e29b76b4c7dabe4c2d0c634fc6d46e0e2f13107e7af23"},
    {"SHA512/256", kTwoWideBlocks, 1, "3928e184fb8690f840da3988121d31be65cb9d3ef83ee6146feac861e19b563a"},
    // FIPS 202 examples (NIST's SHA-3 example values and test vectors).
    {"SHA3-256", "", 1, "a7ffc6f8bf1ed76651c14756a061d662f580ff4de43b49fa82d80a4b80f8434a"},
    {"SHA3-256", "abc", 1, "3a985da74fe225b2045c172d6bd390bd855f086e3e9d525b46bfe24511431532"},
    {"SHA3-256", kTwoBlock, 1, "41c0dba2a9d6240849100376a8235e2c82e1b9998a999e21db32dd97496d3376"},
    {"SHA3-256", kTwoWideBlocks, 1, "916f6061fe879741ca6469b43971dfdb28b1a32dc36cb3254e812be27aad1d18"},
    {"SHA3-256", "a", 1000000, "5c8875ae474a3634ba4fd55ec85bffd661f32aca75c6d699d0cdcb6c115891c1"},
    {"SHA3-512", "", 1,
     "a69f73cca23a9ac5c8b567dc185a756e97c982164fe25859e0d1dcc1475c80a6"
     "15b2123af1f5f94c11e3e9402c3ac558f500199d95b6d3e301758586281dcd26"},
    {"SHA3-512", "abc", 1,
     "b751850b1a57168a5693cd924b6b096e08f621827444f70d884f5d0240d2712e"
     "10e116e9192af3c91a7ec57647e3934057340b4cf408d5a56592f8274eec53f0"},
    {"SHA3-512", kTwoBlock, 1,
     "04a371e84ecfb5b8b77cb48610fca8182dd457ce6f326a0fd3d7ec2f1e91636d"
     "ee691fbe0c985302ba1b0d8dc78c086346b533b49c030d99a27daf1139d6e75e"},
    {"SHA3-512", kTwoWideBlocks, 1,
     "afebb2ef542e6579c50cad06d2e578f9f8dd6881d7dc824d26360feebf18a4fa"
     "73e3261122948efcfd492e74e82e2189ed0fb440d187f382270cb455f21dd185"},
    {"SHA3-512", "a", 1000000,
     "3c3a876da14034ab60627c077bb98f7e120a2a5370212dffb3385a18d4f38859"
     "ed311d0a9d5141ce9cc5c66ee689b266a8aa18ace8282a0e0db596c90b0a7b87"},
};

TEST_P(DigestTest, PublishedVectors)
{
    int checked = 0;
    for (const Vector& v : kVectors) {
        if (std::strcmp(v.row, V().row) != 0)
            continue;
        SCOPED_TRACE(std::string(v.text).substr(0, 20) + " x" + std::to_string(v.times));
        const size_t unit = std::strlen(v.text);
        Bytes message;
        for (uint32_t i = 0; i < v.times; ++i)
            message.insert(message.end(), v.text, v.text + unit);
        const Bytes expected = FromHex(v.digest);

        EXPECT_EQ(Ours(message), expected);

        // The same message fed one repetition at a time.
        auto context = Context();
        for (uint32_t i = 0; i < v.times; ++i)
            context->Update(reinterpret_cast<const uint8_t*>(v.text), unit);
        EXPECT_EQ(Content(context->Finish()), expected);
        ++checked;
    }
    EXPECT_GE(checked, 3);
}

// --- agreement with OpenSSL ---------------------------------------------

// Every length from 0 to 300 (all the padding cases: with 64-byte blocks a
// tail of 55 bytes fits the length in the same block, 56..63 need a second
// one, 64 is a whole block; 111 and 112 with 128-byte blocks; 135 and 136,
// 71 and 72 at SHA-3's rates, where a tail one short of the rate puts both
// padding bits in one byte), the lengths on either side of every block
// boundary up to 10 KiB, random lengths up to 10 KiB, then longer
// messages; each also fed from an address that is not word-aligned.
TEST_P(DigestTest, MatchesOpenSslForEveryLength)
{
    std::mt19937 random(1);
    std::vector<size_t> lengths;
    for (size_t n = 0; n <= 300; ++n)
        lengths.push_back(n);
    for (size_t edge = 2 * row_->blockSize; edge <= 10240; edge += row_->blockSize)
        lengths.insert(lengths.end(), {edge - 1, edge, edge + 1});
    for (int i = 0; i < 100; ++i)
        lengths.push_back(random() % 10241);
    for (size_t n : {65536u + 55, 1000003u})
        lengths.push_back(n);

    for (size_t n : lengths) {
        SCOPED_TRACE("length " + std::to_string(n));
        const Bytes m = RandomBytes(random, n);
        const Bytes expected = Reference(m);
        ASSERT_EQ(Ours(m), expected);

        Bytes shifted(n + 3);
        std::copy(m.begin(), m.end(), shifted.begin() + 3);
        auto context = Context();
        context->Update(shifted.data() + 3, n);
        ASSERT_EQ(Content(context->Finish()), expected);
    }
}

TEST_P(DigestTest, IncrementalPiecesMatchOneShot)
{
    std::mt19937 random(2);
    auto context = Context();
    for (int round = 0; round < 40; ++round) {
        const Bytes m = RandomBytes(random, random() % 3000);
        const Bytes expected = Reference(m);

        // Pieces of 0 to 130 bytes, now and then a long one, so that pieces
        // end at every offset inside a block and some span several blocks.
        size_t pos = 0;
        while (pos < m.size()) {
            size_t piece = random() % 8 == 0 ? random() % 700 : random() % 131;
            piece = std::min(piece, m.size() - pos);
            if (random() % 2)
                context->Update(m.data() + pos, piece);
            else
                context->Update(BlobOf(m.data() + pos, piece));
            pos += piece;
        }
        // The same context is used again for the next round: Finish leaves
        // it to a Reset, which must forget everything.
        ASSERT_EQ(Content(context->Finish()), expected) << "round " << round;
        context->Reset();
    }
}

// A clone taken in the middle of a message, and a context that copied the
// state, each finish the message on their own; the original is unchanged
// by what they take.  Copying from another hash's context is refused.
TEST_P(DigestTest, ClonesAndCopiesContinueIndependently)
{
    std::mt19937 random(5);
    const Bytes head = RandomBytes(random, 3 * row_->blockSize / 2 + 3);
    const Bytes tailA = RandomBytes(random, 100), tailB = RandomBytes(random, 250);
    auto context = Context();
    context->Update(head.data(), head.size());
    auto clone = context->Clone();
    auto copy = Context();
    copy->Update(tailB.data(), 7); // state to be overwritten
    copy->CopyFrom(*context);

    clone->Update(tailA.data(), tailA.size());
    copy->Update(tailB.data(), tailB.size());
    context->Update(tailB.data(), tailB.size());
    EXPECT_EQ(Content(clone->Finish()), Reference(Concat(head, tailA)));
    EXPECT_EQ(Content(copy->Finish()), Reference(Concat(head, tailB)));
    EXPECT_EQ(Content(context->Finish()), Reference(Concat(head, tailB)));

    const XHashAlgorithm* other = FindHashAlgorithmByName(std::strcmp(V().row, "MD5") ? "MD5" : "SHA1");
    ASSERT_NE(other, nullptr);
    EXPECT_THROW(context->CopyFrom(*other->newContext()), std::invalid_argument);
}

TEST_P(DigestTest, ResetDiscardsWhatWasFed)
{
    const Bytes m = {'a', 'b', 'c'};
    auto context = Context();
    std::vector<uint8_t> junk(200, 0x5a);
    context->Update(junk.data(), junk.size());
    context->Reset();
    context->Update(m.data(), m.size());
    EXPECT_EQ(Content(context->Finish()), Reference(m));
}

// The digest has exactly the digest length whatever the capacity or length
// of the input, and the input is left as it was.
TEST_P(DigestTest, ResultHasDigestLengthAndInputIsUntouched)
{
    for (uint32_t capacity : {0u, 1u, 16u, 1000u}) {
        for (const char* text : {"", "x", "a somewhat longer message of more than one block, 64 bytes or so!!"}) {
            XBlob input(capacity);
            input.AppendBytes(text, uint32_t(std::strlen(text)));
            const XBlob before(input);
            const XBlob d = V().function(input);
            EXPECT_EQ(d.Length(), V().size);
            EXPECT_EQ(Content(d), Reference(input.Data(), input.Length()));
            EXPECT_TRUE(input == before);
            EXPECT_EQ(input.Capacity(), before.Capacity());
        }
    }
    EXPECT_EQ(Context()->Size(), V().size);
}

// Past 2^29 bytes the length in bits no longer fits 32 bits: the upper word
// of the padding's length field is then non-zero.
TEST_P(DigestTest, MessageLongerThan512MiB)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "half a gigabyte through unoptimised code; the optimised tree runs this";
#endif
    if (!V().fast && HaveFastEngine(V().family))
        GTEST_SKIP() << "the length encoding is shared by both engines; run once";
    if (std::strncmp(V().row, "SHA3-", 5) == 0)
        GTEST_SKIP() << "the sponge has no length field";
    std::mt19937 random(3);
    const Bytes chunk = RandomBytes(random, 1 << 20);
    const size_t chunks = 512 + 1;
    const Bytes tail = RandomBytes(random, 61);

    std::unique_ptr<EVP_MD_CTX, EvpContextDeleter> reference(EVP_MD_CTX_new());
    ASSERT_EQ(EVP_DigestInit_ex(reference.get(), V().evp(), nullptr), 1);
    auto context = Context();
    for (size_t i = 0; i < chunks; ++i) {
        context->Update(chunk.data(), chunk.size());
        EVP_DigestUpdate(reference.get(), chunk.data(), chunk.size());
    }
    context->Update(tail.data(), tail.size());
    EVP_DigestUpdate(reference.get(), tail.data(), tail.size());

    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(reference.get(), out, &length);
    EXPECT_EQ(Content(context->Finish()), Bytes(out, out + length));
}

INSTANTIATE_TEST_SUITE_P(Digests, DigestTest, ::testing::ValuesIn(kVariants));

// --- lookups by OpenPGP hash id and by name ----------------------------------

struct Known {
    uint8_t id; // 0: none
    const char* name;
    DigestFunction function;
    uint32_t size;
};

const Known kKnown[] = {
    {1, "MD5", DigestMD5, 16},          {2, "SHA1", DigestSHA1, 20},          {3, "RIPEMD160", DigestRipemd160, 20},
    {8, "SHA256", DigestSHA256, 32},    {9, "SHA384", DigestSHA384, 48},      {10, "SHA512", DigestSHA512, 64},
    {11, "SHA224", DigestSHA224, 28},   {12, "SHA3-256", DigestSHA3_256, 32}, {14, "SHA3-512", DigestSHA3_512, 64},
    {0, "SHA512/256", DigestSHA512_256, 32},
};

TEST(DigestLookup, KnownIdsAndNames)
{
    const XBlob abc = BlobOf(Bytes{'a', 'b', 'c'});
    for (const Known& known : kKnown) {
        SCOPED_TRACE(known.name);
        const XHashAlgorithm* row = FindHashAlgorithmByName(known.name);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->pgpId, known.id);
        EXPECT_EQ(row->oneShot, known.function);
        EXPECT_EQ(row->digestSize, known.size);
        if (known.id == 0)
            continue;
        EXPECT_EQ(FindHashAlgorithm(known.id), row);
        EXPECT_EQ(HashFunctionById(known.id), known.function);
        EXPECT_EQ(HashSizeById(known.id), known.size);
        auto context = NewDigestById(known.id);
        ASSERT_TRUE(context);
        EXPECT_EQ(context->Size(), known.size);
        context->Update(abc);
        EXPECT_TRUE(context->Finish() == known.function(abc));
    }
}

// 0 is no hash (SHA-512/256, which has no OpenPGP id, is not found by it);
// 4-7, 13 and 15 are ids no hash of ours has.
TEST(DigestLookup, UnknownIdsAreRefused)
{
    for (int id : {0, 4, 5, 6, 7, 13, 15, 100, 110, 255}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(FindHashAlgorithm(uint8_t(id)), nullptr);
        EXPECT_TRUE(RaisesAlarm([&] { HashFunctionById(uint8_t(id)); }, XMessage::kUnsupportedAlgorithm, nullptr));
        EXPECT_TRUE(RaisesAlarm([&] { HashSizeById(uint8_t(id)); }, XMessage::kUnsupportedAlgorithm, nullptr));
        EXPECT_TRUE(RaisesAlarm([&] { NewDigestById(uint8_t(id)); }, XMessage::kUnsupportedAlgorithm, nullptr));
    }
}

// Either case, and a hyphen after "SHA"; nothing else.
TEST(DigestLookup, NamesAreSpelledOneWayUpToCaseAndTheShaHyphen)
{
    const struct {
        const char* given;
        const char* row; // null: not found
    } cases[] = {
        {"md5", "MD5"},
        {"Sha1", "SHA1"},
        {"SHA-1", "SHA1"},
        {"sha-1", "SHA1"},
        {"ripemd160", "RIPEMD160"},
        {"SHA-256", "SHA256"},
        {"sha224", "SHA224"},
        {"Sha-384", "SHA384"},
        {"SHA512", "SHA512"},
        {"sha-512/256", "SHA512/256"},
        {"SHA512/256", "SHA512/256"},
        {"sha3-256", "SHA3-256"},
        {"SHA-3-256", "SHA3-256"},
        {"sHa3-512", "SHA3-512"},
        {"", nullptr},
        {"SHA", nullptr},
        {"SHA-", nullptr},
        {"SHA--256", nullptr},
        {"SHA 256", nullptr},
        {" SHA256", nullptr},
        {"SHA256 ", nullptr},
        {"SHA-2-256", nullptr},
        {"SHA3256", nullptr},
        {"SHA3_256", nullptr},
        {"SHA512-256", nullptr},
        {"SHA512/224", nullptr},
        {"RIPEMD-160", nullptr},
        {"MD-5", nullptr},
        {"SHA2560", nullptr},
        {"SHA25", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.given);
        const XHashAlgorithm* row = FindHashAlgorithmByName(c.given);
        if (!c.row) {
            EXPECT_EQ(row, nullptr);
            continue;
        }
        ASSERT_NE(row, nullptr);
        EXPECT_STREQ(row->name, c.row);
    }
    EXPECT_EQ(FindHashAlgorithmByName(nullptr), nullptr);
}

// --- the two engines of SHA-1, SHA-256 and SHA-512 ---------------------------

bool CpuInfoHasFlags(const std::vector<std::string>& wanted)
{
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("flags", 0) != 0)
            continue;
        std::istringstream words(line.substr(line.find(':') + 1));
        std::vector<std::string> flags;
        for (std::string w; words >> w;)
            flags.push_back(w);
        for (const auto& f : wanted)
            if (std::find(flags.begin(), flags.end(), f) == flags.end())
                return false;
        return true;
    }
    return false;
}

// The detection agrees with what the kernel reports, and the process uses
// the fast engines by default wherever they exist; each family switches on
// its own.
TEST(ShaEngines, HardwareIsDetectedAndPreferred)
{
#if defined(__linux__) && (defined(__x86_64__) || defined(__i386__))
    const bool shaNi = CpuInfoHasFlags({"sha_ni", "ssse3", "sse4_1"});
    EXPECT_EQ(Sha1EngineAvailable(Sha1Engine::kShaExtensions), shaNi);
    EXPECT_EQ(Sha256EngineAvailable(Sha256Engine::kShaExtensions), shaNi);
#endif
#if defined(__linux__) && defined(__x86_64__)
    EXPECT_EQ(Sha512EngineAvailable(Sha512Engine::kAvx2Bmi2), CpuInfoHasFlags({"avx2", "bmi2"}));
#elif defined(__i386__)
    EXPECT_FALSE(Sha512EngineAvailable(Sha512Engine::kAvx2Bmi2)) << "64-bit only";
#endif
    EXPECT_EQ(Sha256EngineAvailable(Sha256Engine::kShaExtensions), Sha1EngineAvailable(Sha1Engine::kShaExtensions));
    EXPECT_TRUE(Sha1EngineAvailable(Sha1Engine::kPortable));
    EXPECT_TRUE(Sha256EngineAvailable(Sha256Engine::kPortable));
    EXPECT_TRUE(Sha512EngineAvailable(Sha512Engine::kPortable));

    const bool sha1Fast = HaveFastEngine(Family::kSha1), sha256Fast = HaveFastEngine(Family::kSha256),
               sha512Fast = HaveFastEngine(Family::kSha512);
    auto expectActive = [&](bool sha1, bool sha256, bool sha512) {
        EXPECT_EQ(Sha1ActiveEngine(), sha1 ? Sha1Engine::kShaExtensions : Sha1Engine::kPortable);
        EXPECT_EQ(Sha256ActiveEngine(), sha256 ? Sha256Engine::kShaExtensions : Sha256Engine::kPortable);
        EXPECT_EQ(Sha512ActiveEngine(), sha512 ? Sha512Engine::kAvx2Bmi2 : Sha512Engine::kPortable);
    };
    expectActive(sha1Fast, sha256Fast, sha512Fast);

    ASSERT_TRUE(Sha1SelectEngine(Sha1Engine::kPortable));
    expectActive(false, sha256Fast, sha512Fast);
    ASSERT_TRUE(Sha256SelectEngine(Sha256Engine::kPortable));
    expectActive(false, false, sha512Fast);
    ASSERT_TRUE(Sha512SelectEngine(Sha512Engine::kPortable));
    expectActive(false, false, false);
    ASSERT_EQ(Sha1SelectEngine(Sha1Engine::kShaExtensions), sha1Fast);
    ASSERT_EQ(Sha256SelectEngine(Sha256Engine::kShaExtensions), sha256Fast);
    ASSERT_EQ(Sha512SelectEngine(Sha512Engine::kAvx2Bmi2), sha512Fast);
    expectActive(sha1Fast, sha256Fast, sha512Fast);
    SelectBestEngines();
}

// The compression functions side by side from arbitrary chaining values (not
// only the standard initial ones) over runs of 1 to 9 blocks, from an odd
// address to exercise unaligned loads.
template <class Word, size_t N, class Compress>
void CompareCompressions(size_t blockSize, Compress compress)
{
    std::mt19937_64 random(4);
    for (int round = 0; round < 200; ++round) {
        const size_t blocks = 1 + round % 9;
        std::mt19937 bytes{uint32_t(round)};
        const Bytes data = RandomBytes(bytes, blocks * blockSize + 1);
        Word portable[N], hardware[N];
        for (size_t i = 0; i < N; ++i)
            portable[i] = hardware[i] = Word(random());
        compress(false, portable, data.data() + 1, blocks);
        compress(true, hardware, data.data() + 1, blocks);
        ASSERT_EQ(Bytes(reinterpret_cast<uint8_t*>(portable), reinterpret_cast<uint8_t*>(portable + N)),
                  Bytes(reinterpret_cast<uint8_t*>(hardware), reinterpret_cast<uint8_t*>(hardware + N)))
            << "round " << round;
    }
}

TEST(ShaEngines, Sha1CompressionFunctionsAgree)
{
    if (!Sha1EngineAvailable(Sha1Engine::kShaExtensions))
        GTEST_SKIP() << "this CPU has no SHA extensions";
    CompareCompressions<uint32_t, 5>(64, [](bool hardware, uint32_t* state, const uint8_t* p, size_t blocks) {
        XSha1::CompressBlocks(hardware ? Sha1Engine::kShaExtensions : Sha1Engine::kPortable, state, p, blocks);
    });
}

TEST(ShaEngines, Sha256CompressionFunctionsAgree)
{
    if (!Sha256EngineAvailable(Sha256Engine::kShaExtensions))
        GTEST_SKIP() << "this CPU has no SHA extensions";
    CompareCompressions<uint32_t, 8>(64, [](bool hardware, uint32_t* state, const uint8_t* p, size_t blocks) {
        XSha256Base::CompressBlocks(hardware ? Sha256Engine::kShaExtensions : Sha256Engine::kPortable, state, p,
                                    blocks);
    });
}

TEST(ShaEngines, Sha512CompressionFunctionsAgree)
{
    if (!Sha512EngineAvailable(Sha512Engine::kAvx2Bmi2))
        GTEST_SKIP() << "this CPU has no AVX2 and BMI2 (or this is a 32-bit build)";
    CompareCompressions<uint64_t, 8>(128, [](bool fast, uint64_t* state, const uint8_t* p, size_t blocks) {
        XSha512Base::CompressBlocks(fast ? Sha512Engine::kAvx2Bmi2 : Sha512Engine::kPortable, state, p, blocks);
    });
}

} // namespace
