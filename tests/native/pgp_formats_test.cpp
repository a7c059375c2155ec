// Integrity-protected, compressed and AEAD messages: every format, cipher,
// AEAD mode and compression round trip with the settings the message
// leaves behind; contents built by hand around an independent CFB and
// SHA-1 (libgcrypt) exercise the packets inside; tampering, truncation and
// decompression bombs never give plaintext; and GnuPG and rnp read what is
// written here and write what is read here.
#include "pgp/message.h"

#include "pgp_test_support.h"

#include <gcrypt.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

namespace {

using namespace pgp_test;

const Bytes kPass = {'c', 'o', 'r', 'r', 'e', 'c', 't', ' ', 'h', 'o', 'r', 's', 'e', 0xE2, 0x82, 0xAC};

struct Settings {
    uint8_t format = 0;
    uint8_t cipher = XPgpMessage::kAes128;
    uint8_t aead = XPgpMessage::kAeadOcb;
    uint8_t compression = 0;
    uint8_t chunkSize = XPgpMessage::kDefaultChunkSize;
    uint8_t s2k = XPgpMessage::kS2KIterated;
    uint8_t hash = 8;
    uint8_t count = 0; // 1024 bytes hashed per digest: quick
};

XPgpMessage& Configure(XPgpMessage& m, const Settings& s, const Bytes& password = kPass)
{
    m.SetPassword(BlobOf(password));
    m.SetAlgorithms(s.hash, s.cipher);
    m.SetS2K(s.s2k, s.count);
    m.SetFormat(s.format);
    m.SetAead(s.aead);
    m.SetCompression(s.compression);
    m.SetChunkSize(s.chunkSize);
    return m;
}

Bytes Seal(const Settings& s, const Bytes& plaintext)
{
    XPgpMessage m;
    return Content(Configure(m, s).Encrypt(BlobOf(plaintext)));
}

Bytes Open(const Bytes& message, const Bytes& password = kPass)
{
    XPgpMessage m;
    m.SetPassword(BlobOf(password));
    return Content(m.Decrypt(BlobOf(message)));
}

// The alarm text Open raises, or "" when it returns plaintext.
std::string OpenFails(const Bytes& message)
{
    try {
        Open(message);
        return "";
    } catch (const XAlarm& a) {
        return a.Message();
    }
}

// A text that compresses, of n bytes.
Bytes Text(size_t n)
{
    const std::string line = "The quick brown fox jumps over the lazy dog 0123456789\n";
    Bytes t;
    while (t.size() < n)
        t.insert(t.end(), line.begin(), line.end());
    t.resize(n);
    return t;
}

Bytes Header(uint8_t tag, size_t n)
{
    Bytes h = {uint8_t(0xC0 | tag)};
    XBlob length(0);
    XPgpMessage::EncodeLength(uint32_t(n), length);
    return Concat(h, Content(length));
}

Bytes Packet(uint8_t tag, const Bytes& body)
{
    return Concat(Header(tag, body.size()), body);
}

Bytes Literal(const Bytes& data, uint8_t format = 'b')
{
    return Packet(11, Concat(Bytes{format, 3, 'a', '.', 'b', 1, 2, 3, 4}, data));
}

Bytes Deflate(const Bytes& data, bool zlibWrapper)
{
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, zlibWrapper ? 15 : -15, 9, Z_DEFAULT_STRATEGY);
    Bytes out(deflateBound(&z, data.size()) + 64);
    z.next_in = const_cast<uint8_t*>(data.data());
    z.avail_in = uInt(data.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

Bytes Compressed(uint8_t algorithm, const Bytes& packets)
{
    const Bytes stream = algorithm == 0 ? packets : Deflate(packets, algorithm == 2);
    return Packet(8, Concat(Bytes{algorithm}, stream));
}

// An integrity-protected message around `content`, built with libgcrypt: a
// version-4 session packet (AES-128, salted S2K with SHA-1), then tag 18
// version 1 in plain CFB from a zero IV over prefix, content and a
// modification-detection packet.  `mdc` may replace that packet.
Bytes IntegrityMessage(const Bytes& content, const Bytes* mdc = nullptr, const Bytes& password = kPass)
{
    static const bool init = [] {
        gcry_check_version(nullptr);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    (void)init;
    const Bytes salt = Pattern(8, 41);
    uint8_t key[16];
    EXPECT_EQ(gcry_kdf_derive(password.data(), password.size(), GCRY_KDF_SALTED_S2K, GCRY_MD_SHA1, salt.data(),
                              salt.size(), 0, sizeof key, key),
              0);
    Bytes prefix = Pattern(16, 42);
    prefix.push_back(prefix[14]);
    prefix.push_back(prefix[15]);
    Bytes plain = Concat(prefix, content);
    if (mdc) {
        plain = Concat(plain, *mdc);
    } else {
        plain = Concat(plain, Bytes{0xD3, 0x14});
        unsigned char digest[20];
        gcry_md_hash_buffer(GCRY_MD_SHA1, digest, plain.data(), plain.size());
        plain.insert(plain.end(), digest, digest + 20);
    }
    gcry_cipher_hd_t h;
    EXPECT_EQ(gcry_cipher_open(&h, GCRY_CIPHER_AES128, GCRY_CIPHER_MODE_CFB, 0), 0);
    gcry_cipher_setkey(h, key, sizeof key);
    const uint8_t iv[16] = {};
    gcry_cipher_setiv(h, iv, 16);
    Bytes encrypted(plain.size());
    gcry_cipher_encrypt(h, encrypted.data(), encrypted.size(), plain.data(), plain.size());
    gcry_cipher_close(h);
    const Bytes session = Packet(3, Concat(Bytes{4, 7, 1, 2}, salt));
    return Concat(session, Packet(18, Concat(Bytes{1}, encrypted)));
}

std::string ToText(const Bytes& b)
{
    return std::string(b.begin(), b.end());
}

const uint8_t kCfbCiphers[] = {2, 3, 4, 7, 8, 9, 10};

} // namespace

// Every format with every cipher it takes, every AEAD mode, each
// compression, over lengths around the chunk size (64 bytes with octet 0):
// the plaintext comes back, and the reading object takes the message's
// settings.  What a format cannot take is refused before anything is drawn.
TEST(PgpFormats, RoundTripsAndSettingsFollowTheMessage)
{
    const size_t lengths[] = {0, 1, 63, 64, 65, 200, 1000};
    for (uint8_t format : {0, 1, 2, 3}) {
        for (uint8_t cipher : kCfbCiphers) {
            for (uint8_t aead : {1, 2, 3}) {
                if (format < 2 && aead != 2)
                    continue; // the AEAD mode plays no part
                for (uint8_t compression : {0, 1, 2}) {
                    Settings s;
                    s.format = format;
                    s.cipher = cipher;
                    s.aead = aead;
                    s.compression = compression;
                    s.chunkSize = 0;
                    SCOPED_TRACE(testing::Message() << "format " << int(format) << ", cipher " << int(cipher)
                                                    << ", aead " << int(aead) << ", compression " << int(compression));
                    const bool wide = XPgpMessage::BlockSizeById(cipher) == 16;
                    if (format >= 2 && (!wide || (format == 3 && aead == 3))) {
                        XPgpMessage m;
                        EXPECT_TRUE(RaisesAlarm([&] { Configure(m, s).Encrypt(BlobOf(Bytes{1})); },
                                                XMessage::kUnsupportedAlgorithm, "PGP"));
                        continue;
                    }
                    for (size_t n : lengths) {
                        const Bytes plaintext = compression ? Text(n) : Pattern(n, unsigned(n));
                        const Bytes message = Seal(s, plaintext);
                        XPgpMessage reader;
                        reader.SetPassword(BlobOf(kPass));
                        ASSERT_EQ(Content(reader.Decrypt(BlobOf(message))), plaintext) << n;
                        EXPECT_EQ(reader.Format(), format);
                        EXPECT_EQ(reader.Cipher(), cipher);
                        EXPECT_EQ(reader.Compression(), compression);
                        EXPECT_EQ(reader.Hash(), 8);
                        if (format >= 2) {
                            EXPECT_EQ(reader.Aead(), aead);
                            EXPECT_EQ(reader.ChunkSize(), 0);
                        }
                    }
                }
            }
        }
    }
}

// The data packet's layout: version, algorithms, chunk size octet, salt or
// IV, then the chunks (chunk size + 16 bytes each) and a final tag; the
// session packet's version; fresh random values each time.
TEST(PgpFormats, AeadLayoutAndFreshValues)
{
    for (uint8_t format : {2, 3}) {
        for (uint8_t chunk : {0, 1, 12, 16}) {
            Settings s;
            s.format = format;
            s.cipher = 9;
            s.aead = 1;
            s.chunkSize = chunk;
            const size_t n = 300;
            const Bytes a = Seal(s, Pattern(n, 1));
            const Bytes b = Seal(s, Pattern(n, 1));
            EXPECT_NE(a, b);
            const uint32_t sessionLength = 2 + a[1];
            EXPECT_EQ(a[2], format == 2 ? 6 : 5);
            const XPgpPacketHeader data = XPgpMessage::ReadPacketHeader(a.data() + sessionLength,
                                                                          uint32_t(a.size() - sessionLength));
            EXPECT_EQ(data.tag, format == 2 ? 18 : 20);
            const uint8_t* body = a.data() + sessionLength + data.headerLength;
            EXPECT_EQ(Bytes(body, body + 4), (Bytes{uint8_t(format == 2 ? 2 : 1), 9, 1, chunk}));
            const uint64_t chunkBytes = uint64_t(1) << (chunk + 6);
            const uint64_t inner = 3 + 6 + n; // the literal packet: tag, 2-byte length, 306-byte body
            const uint64_t chunks = (inner + chunkBytes - 1) / chunkBytes;
            const uint32_t fields = 4 + (format == 2 ? 32 : 16);
            EXPECT_EQ(data.bodyLength, fields + inner + 16 * (chunks + 1));
            EXPECT_EQ(Open(a), Pattern(n, 1));
        }
    }
}

// Argon2 key derivation: written with 3 passes, 4 lanes and 64 MiB; read
// with what the packet says, within the memory bound; refused in the CFB
// formats.
TEST(PgpFormats, Argon2)
{
    Settings s;
    s.format = 2;
    s.s2k = XPgpMessage::kS2KArgon2;
    const Bytes message = Seal(s, Text(500));
    // Version 6, field count, cipher, AEAD, specifier length 20, type 4,
    // 16 bytes of salt, t, p, encoded m.
    ASSERT_GE(message.size(), 30u);
    EXPECT_EQ(Bytes(message.begin() + 2, message.begin() + 8), (Bytes{6, 3 + 20 + 15, 7, 2, 20, 4}));
    EXPECT_EQ(Bytes(message.begin() + 24, message.begin() + 27), (Bytes{3, 4, 16}));
    XPgpMessage reader;
    reader.SetPassword(BlobOf(kPass));
    EXPECT_EQ(Content(reader.Decrypt(BlobOf(message))), Text(500));
    EXPECT_EQ(reader.S2KMode(), 4);
    EXPECT_EQ(reader.Salt().Length(), 16u);
    EXPECT_EQ(Content(reader.Salt()), Bytes(message.begin() + 8, message.begin() + 24));

    // Memory beyond 2^21 KiB is refused before anything is allocated;
    // parameters Argon2 does not define are malformed.
    Bytes huge = message;
    huge[26] = 22;
    EXPECT_TRUE(RaisesAlarm([&] { Open(huge); }, XMessage::kUnsupportedAlgorithm, "PGP"));
    Bytes noLanes = message;
    noLanes[25] = 0;
    EXPECT_TRUE(RaisesAlarm([&] { Open(noLanes); }, XMessage::kDataCorrupted, "PGP"));
    Bytes tooLittle = message;
    tooLittle[26] = 4; // 16 KiB for 4 lanes of at least 8 KiB
    EXPECT_TRUE(RaisesAlarm([&] { Open(tooLittle); }, XMessage::kDataCorrupted, "PGP"));

    for (uint8_t format : {0, 1, 3}) {
        Settings c = s;
        c.format = format;
        XPgpMessage m;
        EXPECT_TRUE(RaisesAlarm([&] { Configure(m, c).Encrypt(BlobOf(Bytes{1})); }, XMessage::kUnsupportedAlgorithm,
                                "PGP"));
    }
}

// The wrong password: "Invalid key" in every format, as before.
TEST(PgpFormats, WrongPasswordIsInvalidKey)
{
    for (uint8_t format : {0, 1, 2, 3}) {
        Settings s;
        s.format = format;
        const Bytes message = Seal(s, Text(100));
        EXPECT_TRUE(RaisesAlarm([&] { Open(message, Bytes{'x'}); }, XMessage::kInvalidKey, "PGP")) << int(format);
    }
}

// Contents around the literal packet: what is skipped, what is unpacked,
// what is refused.
TEST(PgpFormats, PacketsInsideTheEncryption)
{
    const Bytes data = Text(3000);
    const Bytes literal = Literal(data);
    const Bytes onePass = Packet(4, Bytes{3, 0, 8, 1, 1, 2, 3, 4, 5, 6, 7, 8, 1});
    const Bytes signature = Packet(2, Pattern(60, 3));
    const Bytes marker = Packet(10, Bytes{'P', 'G', 'P'});
    const Bytes padding = Packet(21, Pattern(32, 4));

    const std::vector<std::pair<const char*, Bytes>> good = {
        {"literal", literal},
        {"text literal", Literal(data, 't')},
        {"UTF-8 literal", Literal(data, 'u')},
        {"MIME literal", Literal(data, 'm')},
        {"signed", Concat(Concat(onePass, literal), signature)},
        {"marker and padding", Concat(Concat(marker, literal), padding)},
        {"ZIP", Compressed(1, literal)},
        {"ZLIB", Compressed(2, literal)},
        {"stored", Compressed(0, literal)},
        {"signed inside ZIP", Compressed(1, Concat(Concat(onePass, literal), signature))},
        {"ZLIB inside ZIP", Compressed(1, Compressed(2, literal))},
        {"ZIP stream with bytes after it", Packet(8, Concat(Concat(Bytes{1}, Deflate(literal, false)), Bytes{0, 0}))},
    };
    for (const auto& [what, content] : good) {
        SCOPED_TRACE(what);
        EXPECT_EQ(Open(IntegrityMessage(content)), data);
    }

    const Bytes bzip2 = Packet(8, Concat(Bytes{3}, Pattern(40, 5)));
    const std::vector<std::tuple<const char*, Bytes, const char*>> bad = {
        {"nothing", {}, XMessage::kDataCorrupted},
        {"signature only", signature, XMessage::kDataCorrupted},
        {"two literals", Concat(literal, literal), XMessage::kDataCorrupted},
        {"literal then ZIP", Concat(literal, Compressed(1, literal)), XMessage::kDataCorrupted},
        {"a public key packet", Concat(Packet(6, Pattern(20, 6)), literal), XMessage::kDataCorrupted},
        {"literal format x", Literal(data, 'x'), XMessage::kDataCorrupted},
        {"length past the end", Concat(Header(11, literal.size()), Bytes(literal.begin() + 3, literal.end())),
         XMessage::kDataCorrupted},
        {"BZip2", bzip2, XMessage::kUnsupportedAlgorithm},
        {"compression 110", Packet(8, Concat(Bytes{110}, Pattern(40, 5))), XMessage::kUnsupportedAlgorithm},
        {"broken ZIP stream", Packet(8, Concat(Bytes{1}, Pattern(40, 7))), XMessage::kDataCorrupted},
        {"cut ZLIB stream",
         [&] {
             Bytes z = Deflate(literal, true);
             z.resize(z.size() / 2);
             return Packet(8, Concat(Bytes{2}, z));
         }(),
         XMessage::kDataCorrupted},
    };
    for (const auto& [what, content, alarm] : bad) {
        SCOPED_TRACE(what);
        EXPECT_TRUE(RaisesAlarm([&] { Open(IntegrityMessage(content)); }, alarm, "PGP"));
    }

    // Compressed packets nested deeper than any tool writes.
    Bytes deep = literal;
    for (int i = 0; i < 12; ++i)
        deep = Compressed(0, deep);
    EXPECT_TRUE(RaisesAlarm([&] { Open(IntegrityMessage(deep)); }, XMessage::kDataCorrupted, "PGP"));
}

// The modification-detection packet: missing, damaged or with the wrong
// header, it is "Data is corrupted" and no plaintext comes back.
TEST(PgpFormats, ModificationDetection)
{
    const Bytes literal = Literal(Text(100));
    const Bytes good = IntegrityMessage(literal);
    ASSERT_EQ(Open(good), Text(100));

    Bytes plainWithMdc;
    {
        // The packet as IntegrityMessage would have hashed it, to damage.
        Bytes prefix = Pattern(16, 42);
        prefix.push_back(prefix[14]);
        prefix.push_back(prefix[15]);
        plainWithMdc = Concat(Concat(prefix, literal), Bytes{0xD3, 0x14});
    }
    unsigned char digest[20];
    gcry_md_hash_buffer(GCRY_MD_SHA1, digest, plainWithMdc.data(), plainWithMdc.size());
    const Bytes rightDigest(digest, digest + 20);
    Bytes wrongDigest = rightDigest;
    wrongDigest[19] ^= 1;
    const std::vector<std::pair<const char*, Bytes>> cases = {
        {"none", Bytes{}},
        {"wrong digest", Concat(Bytes{0xD3, 0x14}, wrongDigest)},
        {"wrong tag", Concat(Bytes{0xD2, 0x14}, rightDigest)},
        {"wrong length", Concat(Bytes{0xD3, 0x13}, rightDigest)},
        {"cut short", Concat(Bytes{0xD3, 0x14}, Bytes(rightDigest.begin(), rightDigest.end() - 1))},
    };
    for (const auto& [what, mdc] : cases) {
        SCOPED_TRACE(what);
        EXPECT_TRUE(RaisesAlarm([&] { Open(IntegrityMessage(literal, &mdc)); }, XMessage::kDataCorrupted, "PGP"));
    }
}

// Every byte flipped and every truncation of a small message of each
// format ends in an alarm, never in plaintext; inside the enciphered part
// of the data packet (after the first block of the CFB prefix) the alarm is
// "Data is corrupted".  A flip in a session packet reads as a wrong
// password, as it must: nothing tells the two apart.
TEST(PgpFormats, TamperingNeverYieldsPlaintext)
{
    for (uint8_t format : {1, 2, 3}) {
        for (uint8_t compression : {0, 1}) {
            Settings s;
            s.format = format;
            s.compression = compression;
            s.chunkSize = 0;
            s.aead = format == 2 ? 3 : 2;
            SCOPED_TRACE(testing::Message() << "format " << int(format) << ", compression " << int(compression));
            const Bytes message = Seal(s, Text(150));
            const uint32_t sessionLength = 2 + message[1];
            const XPgpPacketHeader data =
                XPgpMessage::ReadPacketHeader(message.data() + sessionLength, uint32_t(message.size() - sessionLength));
            const size_t enciphered = sessionLength + data.headerLength + (format == 1 ? 1 + 18 : format == 2 ? 36 : 19);
            for (size_t i = 0; i < message.size(); ++i) {
                Bytes flipped = message;
                flipped[i] ^= uint8_t(1 << (i % 8));
                const std::string alarm = OpenFails(flipped);
                EXPECT_NE(alarm, "") << "byte " << i;
                if (i >= enciphered) {
                    EXPECT_EQ(alarm, XMessage::kDataCorrupted) << "byte " << i;
                }
            }
            for (size_t n = 0; n < message.size(); ++n)
                EXPECT_NE(OpenFails(Bytes(message.begin(), message.begin() + n)), "") << "cut to " << n;
        }
    }
}

// A message that inflates past 64 times its size plus 64 MiB stops there,
// nested or not; below the bound it is read.
TEST(PgpFormats, DecompressionIsBounded)
{
    const Bytes zeros(100u << 20, 0);
    const Bytes bomb = Compressed(1, Literal(zeros));
    EXPECT_LT(bomb.size(), 200000u);
    EXPECT_TRUE(RaisesAlarm([&] { Open(IntegrityMessage(bomb)); }, XMessage::kDataCorrupted, "PGP"));

    // Two layers whose sum passes the bound while each stays under it.
    const Bytes half(40u << 20, 0);
    const Bytes inner = Compressed(2, Literal(half));
    const Bytes padded = Compressed(1, Concat(Concat(Packet(21, Bytes(38u << 20, 0)), inner), Bytes{}));
    EXPECT_TRUE(RaisesAlarm([&] { Open(IntegrityMessage(padded)); }, XMessage::kDataCorrupted, "PGP"));

    const Bytes fits(30u << 20, 'z');
    EXPECT_EQ(Open(IntegrityMessage(Compressed(2, Literal(fits)))).size(), fits.size());
}

// Session packets: each is tried; public-key ones are passed over, and a
// message sealed to public keys only is not for a password.
TEST(PgpFormats, SessionPackets)
{
    Settings s;
    s.format = 2;
    const Bytes mine = Seal(s, Text(80));
    const uint32_t sessionLength = 2 + mine[1];
    const Bytes session(mine.begin(), mine.begin() + sessionLength);
    const Bytes data(mine.begin() + sessionLength, mine.end());

    // Another password's session packet for the same data: written by a
    // second object, it cannot open this message's session key.
    XPgpMessage other;
    Configure(other, s, Bytes{'o', 't', 'h', 'e', 'r'});
    const Bytes otherMessage = Content(other.Encrypt(BlobOf(Text(80))));
    const Bytes otherSession(otherMessage.begin(), otherMessage.begin() + 2 + otherMessage[1]);

    const Bytes publicKey = Packet(1, Concat(Bytes{3}, Pattern(40, 9)));
    EXPECT_EQ(Open(Concat(Concat(otherSession, session), data)), Text(80));
    EXPECT_EQ(Open(Concat(Concat(session, otherSession), data)), Text(80));
    EXPECT_EQ(Open(Concat(Concat(publicKey, session), data)), Text(80));
    EXPECT_TRUE(RaisesAlarm([&] { Open(Concat(otherSession, data)); }, XMessage::kInvalidKey, "PGP"));
    EXPECT_TRUE(RaisesAlarm([&] { Open(Concat(publicKey, data)); }, XMessage::kUnsupportedAlgorithm, "PGP"));
    EXPECT_TRUE(
        RaisesAlarm([&] { Open(Concat(Concat(publicKey, publicKey), data)); }, XMessage::kUnsupportedAlgorithm, "PGP"));

    // Camellia (11) and IDEA (1) in a session or data packet.
    for (uint8_t cipher : {1, 11, 12, 13}) {
        Bytes camellia = mine;
        camellia[4] = cipher;
        EXPECT_TRUE(RaisesAlarm([&] { Open(camellia); }, XMessage::kUnsupportedAlgorithm, "PGP")) << int(cipher);
    }
}

// --- other tools -------------------------------------------------------------------

namespace {

class PgpTools : public GpgSuite {
protected:
    static std::string Passphrase() { return std::string(kPass.begin(), kPass.end()); }

    // gpg -c with the options; the message it wrote.
    static Bytes GpgEncrypt(const Bytes& plaintext, const std::vector<std::string>& options)
    {
        const std::string in = gpg_->Path("plain.bin"), out = gpg_->Path("gpg.pgp");
        WriteFile(in, plaintext);
        std::vector<std::string> args = {"--yes", "-o", out};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back("-c");
        args.push_back(in);
        EXPECT_TRUE(gpg_->Call(Passphrase(), args)) << gpg_->Log();
        return ReadFile(out);
    }

    // A plain gpg -d: no option that forgives a missing integrity check.
    static bool GpgDecrypts(const Bytes& message, Bytes& plaintext)
    {
        const std::string in = gpg_->Path("ours.pgp"), out = gpg_->Path("ours.out");
        WriteFile(in, message);
        const bool ok = gpg_->Call(Passphrase(), {"--yes", "-o", out, "-d", in});
        plaintext = ReadFile(out);
        return ok;
    }

    // rnp with its own home in the gpg suite's directory; exit status 0.
    static bool Rnp(const std::vector<std::string>& args)
    {
        std::error_code ignored;
        std::filesystem::create_directories(gpg_->Path("rnp"), ignored);
        std::vector<std::string> argv = {"rnp", "--homedir", gpg_->Path("rnp")};
        argv.insert(argv.end(), args.begin(), args.end());
        const std::string log = gpg_->Path("rnp.log");
        return pgp_test::Run(argv, "", gpg_->Path("rnp.stdout"), log) == 0;
    }
    static bool RnpAvailable()
    {
        const std::string log = gpg_->Path("rnp-version.log");
        return pgp_test::Run({"rnp", "--version"}, "", log, log) == 0;
    }

};


} // namespace

// What GnuPG 2.2 writes by default (integrity-protected, compressed), with
// each compression and cipher and the SHA-2 key derivations.
TEST_F(PgpTools, ReadsWhatGpgWrites)
{
    const Bytes text = Text(70000);
    const Bytes binary = Pattern(5000, 77);
    struct Case {
        std::vector<std::string> options;
        uint8_t cipher;
        uint8_t compression;
        uint8_t hash;
    };
    const std::vector<Case> cases = {
        {{}, 9, 1, 2}, // gpg's defaults: AES-256, ZIP, SHA-1
        {{"--compress-algo", "zlib"}, 9, 2, 2},
        {{"--compress-algo", "none"}, 9, 0, 2},
        {{"--cipher-algo", "AES"}, 7, 1, 2},
        {{"--cipher-algo", "AES192", "--compress-algo", "zlib"}, 8, 2, 2},
        {{"--cipher-algo", "TWOFISH"}, 10, 1, 2},
        {{"--cipher-algo", "CAST5", "--compress-algo", "none"}, 3, 0, 2},
        {{"--cipher-algo", "BLOWFISH", "--compress-algo", "zip"}, 4, 1, 2},
        {{"--cipher-algo", "3DES", "--compress-algo", "zlib"}, 2, 2, 2},
        {{"--s2k-digest-algo", "SHA256"}, 9, 1, 8},
        {{"--s2k-digest-algo", "SHA384", "--compress-algo", "zlib"}, 9, 2, 9},
        {{"--s2k-digest-algo", "SHA512"}, 9, 1, 10},
        {{"--s2k-digest-algo", "SHA224"}, 9, 1, 11},
    };
    for (const Case& c : cases) {
        for (const Bytes* plaintext : {&text, &binary}) {
            SCOPED_TRACE(testing::Message() << (c.options.empty() ? "defaults" : c.options.back()) << ", "
                                            << plaintext->size() << " bytes");
            std::vector<std::string> options = c.options;
            const Bytes message = GpgEncrypt(*plaintext, options);
            XPgpMessage m;
            m.SetPassword(BlobOf(kPass));
            EXPECT_EQ(Content(m.Decrypt(BlobOf(message))), *plaintext);
            EXPECT_EQ(m.Format(), 1);
            EXPECT_EQ(m.Cipher(), c.cipher);
            EXPECT_EQ(m.Hash(), c.hash);
            // gpg leaves incompressible data uncompressed.
            if (plaintext == &text)
                EXPECT_EQ(m.Compression(), c.compression);
        }
    }
}

// A message gpg both signs and encrypts: the one-pass-signature and
// signature packets around the literal are passed over.
TEST_F(PgpTools, ReadsSignedMessagesFromGpg)
{
    ASSERT_TRUE(gpg_->Call("", {"--passphrase", "", "--quick-gen-key", "signer@example.invalid", "ed25519", "sign",
                                "never"}))
        << gpg_->Log();
    const Bytes text = Text(20000);
    for (const char* compression : {"zip", "none"}) {
        const Bytes message =
            GpgEncrypt(text, {"--compress-algo", compression, "-u", "signer@example.invalid", "--sign"});
        EXPECT_EQ(Open(message), text) << compression;
    }
}

// Formats 1 (with and without compression) decrypt in a plain gpg -d,
// every cipher.
TEST_F(PgpTools, GpgReadsTheIntegrityFormat)
{
    for (uint8_t cipher : kCfbCiphers) {
        for (uint8_t compression : {0, 1, 2}) {
            Settings s;
            s.format = 1;
            s.cipher = cipher;
            s.compression = compression;
            const Bytes text = Text(40000 + cipher);
            Bytes read;
            EXPECT_TRUE(GpgDecrypts(Seal(s, text), read)) << int(cipher) << "/" << int(compression) << ": "
                                                          << gpg_->Log();
            EXPECT_EQ(read, text) << int(cipher) << "/" << int(compression);
        }
    }
}

// rnp writes LibrePGP AEAD packets (tag 20, version-5 session packets):
// read here; and rnp reads formats 0, 1 and 3 written here.
TEST_F(PgpTools, RnpBothWays)
{
    if (!RnpAvailable())
        GTEST_SKIP() << "rnp not found on PATH";
    const Bytes text = Text(300000);
    WriteFile(gpg_->Path("rnp-plain.txt"), text);
    for (const char* aead : {"ocb", "eax"}) {
        for (const char* cipher : {"AES128", "AES256", "Twofish"}) {
            SCOPED_TRACE(testing::Message() << aead << " " << cipher);
            const std::string out = gpg_->Path("rnp.pgp");
            std::remove(out.c_str());
            ASSERT_TRUE(Rnp({"-c", "--password", Passphrase(), "--aead=" + std::string(aead), "--cipher", cipher,
                             gpg_->Path("rnp-plain.txt"), "--output", out}))
                << ToText(ReadFile(gpg_->Path("rnp.log")));
            XPgpMessage m;
            m.SetPassword(BlobOf(kPass));
            EXPECT_EQ(Content(m.Decrypt(BlobOf(ReadFile(out)))), text);
            EXPECT_EQ(m.Format(), 3);
            EXPECT_EQ(m.Aead(), std::string(aead) == "ocb" ? 2 : 1);
        }
    }

    for (uint8_t format : {0, 1, 3}) {
        for (uint8_t aead : {1, 2}) {
            if (format < 3 && aead == 1)
                continue;
            Settings s;
            s.format = format;
            s.aead = aead;
            s.cipher = 9;
            s.compression = format == 1 ? 2 : 0;
            SCOPED_TRACE(testing::Message() << "format " << int(format) << ", aead " << int(aead));
            const std::string in = gpg_->Path("ours-rnp.pgp"), out = gpg_->Path("ours-rnp.out");
            WriteFile(in, Seal(s, text));
            std::remove(out.c_str());
            EXPECT_TRUE(Rnp({"--decrypt", "--password", Passphrase(), in, "--output", out}))
                << ToText(ReadFile(gpg_->Path("rnp.log")));
            EXPECT_EQ(ReadFile(out), text);
        }
    }
}

// OpenPGP.js 6 (the RFC 9580 writer of the test tools): its version-6
// messages with each AEAD mode, Argon2 or iterated key derivation, and
// compression read here; this class's formats 1 and 2 read there.
TEST_F(PgpTools, OpenPgpJsBothWays)
{
    const std::string tool = std::string(ZEL_SOURCE_DIR) + "/tests/node/openpgp_tool.mjs";
    const std::string modules = std::string(ZEL_SOURCE_DIR) + "/tests/node/node_modules/openpgp";
    const std::string log = gpg_->Path("node.log");
    if (pgp_test::Run({"node", "--version"}, "", log, log) != 0 || !std::filesystem::exists(modules))
        GTEST_SKIP() << "node or the OpenPGP.js module (tools/deps installs it) is missing";
    auto node = [&](const std::vector<std::string>& args, const Bytes& input, Bytes& output) {
        std::vector<std::string> argv = {"node", tool};
        argv.insert(argv.end(), args.begin(), args.end());
        const std::string in = gpg_->Path("node.in"), out = gpg_->Path("node.out");
        WriteFile(in, input);
        const int status = pgp_test::Run(argv, in, out, log);
        output = ReadFile(out);
        return status == 0;
    };

    const Bytes text = Text(600000);
    struct Theirs {
        std::vector<std::string> options;
        uint8_t format, aead, s2k, compression;
    };
    const std::vector<Theirs> theirs = {
        {{"--aead", "ocb"}, 2, 2, 3, 0},
        {{"--aead", "eax", "--cipher", "aes128"}, 2, 1, 3, 0},
        {{"--aead", "gcm", "--chunk", "0"}, 2, 3, 3, 0},
        {{"--aead", "ocb", "--s2k", "argon2"}, 2, 2, 4, 0},
        {{"--aead", "eax", "--s2k", "argon2", "--compress", "zip"}, 2, 1, 4, 1},
        {{"--aead", "gcm", "--s2k", "argon2", "--cipher", "aes192", "--compress", "zlib"}, 2, 3, 4, 2},
        {{"--v4"}, 1, 0, 3, 0},
        {{"--v4", "--compress", "zlib"}, 1, 0, 3, 2},
    };
    for (const Theirs& t : theirs) {
        std::string what;
        for (const std::string& o : t.options)
            what += o + " ";
        SCOPED_TRACE("OpenPGP.js encrypt " + what);
        std::vector<std::string> args = {"encrypt", "--password", Passphrase()};
        args.insert(args.end(), t.options.begin(), t.options.end());
        Bytes message;
        ASSERT_TRUE(node(args, text, message)) << ToText(ReadFile(log));
        XPgpMessage m;
        m.SetPassword(BlobOf(kPass));
        EXPECT_EQ(Content(m.Decrypt(BlobOf(message))), text);
        EXPECT_EQ(m.Format(), t.format);
        EXPECT_EQ(m.S2KMode(), t.s2k);
        EXPECT_EQ(m.Compression(), t.compression);
        if (t.format == 2)
            EXPECT_EQ(m.Aead(), t.aead);
    }

    for (uint8_t aead : {1, 2, 3}) {
        for (uint8_t s2k : {XPgpMessage::kS2KIterated, XPgpMessage::kS2KArgon2}) {
            Settings s;
            s.format = 2;
            s.aead = aead;
            s.s2k = s2k;
            s.cipher = aead == 3 ? 9 : 7;
            s.compression = aead == 1 ? 1 : 0;
            s.chunkSize = aead == 2 ? 12 : 4;
            SCOPED_TRACE(testing::Message() << "ours, aead " << int(aead) << ", s2k " << int(s2k));
            Bytes read;
            EXPECT_TRUE(node({"decrypt", "--password", Passphrase()}, Seal(s, text), read)) << ToText(ReadFile(log));
            EXPECT_EQ(read, text);
        }
    }
    Settings integrity;
    integrity.format = 1;
    integrity.compression = 2;
    Bytes read;
    EXPECT_TRUE(node({"decrypt", "--password", Passphrase()}, Seal(integrity, text), read)) << ToText(ReadFile(log));
    EXPECT_EQ(read, text);
}
