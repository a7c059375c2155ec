// ASCII armor: the exact text written (against OpenSSL's base64 and the
// bit-by-bit CRC-24 of RFC 2440 section 6.1), the reader's tolerance of
// headers, line ends and a missing checksum, its refusals, and GnuPG's armor
// both ways.
#include "pgp/armor.h"

#include "pgp/message.h"
#include "pgp_test_support.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>
#include <string>
#include <vector>

namespace {

using namespace pgp_test;

// RFC 2440 section 6.1, bit by bit.
uint32_t ReferenceCrc24(const Bytes& data)
{
    uint32_t crc = 0xB704CE;
    for (uint8_t b : data) {
        crc ^= uint32_t(b) << 16;
        for (int i = 0; i < 8; ++i) {
            crc <<= 1;
            if (crc & 0x1000000)
                crc ^= 0x1864CFB;
        }
    }
    return crc & 0xFFFFFF;
}

std::string OpenSslBase64(const Bytes& data)
{
    std::string out(4 * ((data.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]), data.data(), int(data.size()));
    out.resize(size_t(n));
    return out;
}

// The armor the writer must produce: base64 cut into lines of 76.
std::string ReferenceArmor(const Bytes& message)
{
    const std::string b64 = OpenSslBase64(message);
    std::string body;
    for (size_t i = 0; i < b64.size(); i += 76) {
        if (i)
            body += "\r\n";
        body += b64.substr(i, 76);
    }
    const uint32_t crc = ReferenceCrc24(message);
    const std::string checksum = OpenSslBase64({uint8_t(crc >> 16), uint8_t(crc >> 8), uint8_t(crc)});
    return "-----BEGIN PGP MESSAGE-----\r\nVersion: ZELCrypto v2.0\r\n\r\n" + body + "\r\n=" + checksum +
           "\r\n-----END PGP MESSAGE-----\r\n";
}

Bytes DearmorText(const std::string& text)
{
    XBlob blob;
    blob.AssignText(text.c_str());
    return Content(Dearmor(blob));
}

std::string Replace(std::string s, const std::string& from, const std::string& to)
{
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
    return s;
}

TEST(PgpArmor, EnarmorWritesTheExactText)
{
    EXPECT_EQ(Enarmor(XBlob()),
              "-----BEGIN PGP MESSAGE-----\r\nVersion: ZELCrypto v2.0\r\n\r\n\r\n=twTO\r\n-----END PGP MESSAGE-----\r\n");
    for (size_t n : {1, 2, 3, 56, 57, 58, 114, 115, 1000, 4099}) {
        const Bytes message = Pattern(n, unsigned(n));
        EXPECT_EQ(Enarmor(BlobOf(message)), ReferenceArmor(message)) << n;
    }
    // Body lines: 57 bytes fill exactly one line of 76, 58 bytes spill 4 characters.
    const std::string one = Enarmor(BlobOf(Pattern(57, 1)));
    const size_t oneAt = one.find("\r\n\r\n") + 4;
    EXPECT_EQ(one.substr(oneAt + 76, 3), "\r\n=");
    const std::string two = Enarmor(BlobOf(Pattern(58, 1)));
    const size_t twoAt = two.find("\r\n\r\n") + 4;
    EXPECT_EQ(two.substr(twoAt + 76, 2), "\r\n");
    EXPECT_EQ(two.substr(twoAt + 80, 2), "==");
    EXPECT_EQ(two.substr(twoAt + 82, 3), "\r\n=");
}

TEST(PgpArmor, RoundTrips)
{
    for (size_t n = 0; n < 200; ++n) {
        const Bytes message = Pattern(n, unsigned(n) + 1000);
        EXPECT_EQ(DearmorText(Enarmor(BlobOf(message))), message) << n;
    }
    const Bytes big = Pattern(3 << 20, 3);
    EXPECT_EQ(DearmorText(Enarmor(BlobOf(big))), big);
}

// What the reader takes: any text before the BEGIN line, blanks and tabs at
// the end of any line, any header lines or none, CR LF, LF or CR line ends,
// any body line length, characters outside the alphabet skipped, no
// checksum, no END line, anything after the checksum line.
TEST(PgpArmor, DearmorIsLenientAboutTheRest)
{
    const Bytes message = Pattern(201, 7); // no padding: no body line can start with "="
    const std::string armor = Enarmor(BlobOf(message));
    const std::string b64 = OpenSslBase64(message);
    const uint32_t crc = ReferenceCrc24(message);
    const std::string checksum = "=" + OpenSslBase64({uint8_t(crc >> 16), uint8_t(crc >> 8), uint8_t(crc)});
    const std::string begin = "-----BEGIN PGP MESSAGE-----";

    const std::vector<std::pair<const char*, std::string>> cases = {
        {"as written", armor},
        {"LF line ends", Replace(armor, "\r\n", "\n")},
        {"CR line ends", Replace(armor, "\r\n", "\r")},
        {"no header lines", begin + "\r\n\r\n" + b64 + "\r\n" + checksum + "\r\n"},
        {"several header lines",
         begin + "\nVersion: other\nComment: a: b\nHash: SHA1\nCharset: UTF-8\n\n" + b64 + "\n" + checksum + "\n"},
        {"one long body line, no END line", begin + "\n\n" + b64 + "\n" + checksum},
        {"short body lines", begin + "\n\n" + Replace(Replace(b64, "A", "A\n"), "\n\n", "\n") + "\n" + checksum + "\n"},
        {"blanks and tabs in the body", begin + "\n\n" + Replace(b64, "B", " B\t") + "\n" + checksum + "\n"},
        {"no checksum, body ends at the end", begin + "\n\n" + b64},
        {"no checksum, body ends at an empty line", begin + "\n\n" + b64 + "\n\nrubbish\n=AAAA\n"},
        {"something else after the checksum", begin + "\n\n" + b64 + "\n" + checksum + "\n-----END PGP SIGNATURE--\nx"},
        {"checksum line with more characters", begin + "\n\n" + b64 + "\n" + checksum + "AAAA\n"},
        {"blank line first", "\r\n" + armor},
        {"mail text first", "Hello,\r\n\r\nthe message -----BEGIN PGP MESSAGE----- is below.\r\n-- \r\n"
                            "-----BEGIN PGP SIGNATURE-----\r\n=AAAA\r\n" + armor},
        {"trailing blank on BEGIN", Replace(armor, "MESSAGE-----\r\n", "MESSAGE----- \r\n")},
        {"trailing blanks and tabs on every line", Replace(armor, "\r\n", " \t \r\n")},
        {"blanks on the line that ends the headers", Replace(armor, "\r\n\r\n", "\r\n\t  \r\n")},
    };
    for (const auto& [what, text] : cases) {
        SCOPED_TRACE(what);
        Bytes got;
        EXPECT_NO_THROW(got = DearmorText(text));
        EXPECT_EQ(got, message);
    }

    // Texts with no body at all.
    for (const std::string& empty : {begin, begin + "\r\n", begin + "\nVersion: x\nComment: no empty line",
                                     Enarmor(XBlob()), begin + "\n\n=twTO\n", begin + "\n\n\n=AAAA\n"})
        EXPECT_EQ(DearmorText(empty), Bytes()) << empty;

    // A NUL byte ends the text: what follows is not read.
    XBlob withNul;
    const std::string head = begin + "\n\n" + b64;
    withNul.AppendBytes(head.data(), uint32_t(head.size()));
    withNul.AppendByte(0);
    const std::string tail = "\n=AAAA\n";
    withNul.AppendBytes(tail.data(), uint32_t(tail.size()));
    EXPECT_EQ(Content(Dearmor(withNul)), message);
}

// The body ends at the END line: without a checksum line in front of it, the
// END line is not read as base64 (its letters decode to 9 bytes, which stood
// behind the message when its base64 had no padding to stop the decoder).
// Lengths with 0, 1 and 2 bytes in the last group, with and without the
// checksum line, each line end, our END line and another one, and text after
// it (a line there that looks like a checksum is not read).
TEST(PgpArmor, BodyEndsAtTheEndLine)
{
    const std::string begin = "-----BEGIN PGP MESSAGE-----";
    for (size_t n : {size_t(0), size_t(1), size_t(2), size_t(201), size_t(202), size_t(203), size_t(3000)}) {
        const Bytes message = Pattern(n, unsigned(n) + 50);
        const std::string b64 = OpenSslBase64(message);
        std::string body;
        for (size_t i = 0; i < b64.size(); i += 64)
            body += b64.substr(i, 64) + "\n";
        const uint32_t crc = ReferenceCrc24(message);
        const std::string checksum = "=" + OpenSslBase64({uint8_t(crc >> 16), uint8_t(crc >> 8), uint8_t(crc)}) + "\n";
        for (const char* eol : {"\r\n", "\n", "\r"}) {
            for (bool withChecksum : {true, false}) {
                for (const std::string end : {"-----END PGP MESSAGE-----", "-----END PGP SIGNATURE-----"}) {
                    for (const char* after : {"", "\n", "\nmore text\n=AAAA\n"}) {
                        const std::string lf =
                            begin + "\nVersion: x\n\n" + body + (withChecksum ? checksum : "") + end + after;
                        const std::string text = Replace(lf, "\n", eol);
                        const char* eolName = eol[0] == '\n' ? "LF" : eol[1] ? "CR LF" : "CR";
                        SCOPED_TRACE(testing::Message() << n << " bytes, " << eolName
                                                        << (withChecksum ? ", checksum, " : ", no checksum, ") << end
                                                        << ", then " << testing::PrintToString(std::string(after)));
                        Bytes got;
                        EXPECT_NO_THROW(got = DearmorText(text));
                        EXPECT_EQ(got, message);
                    }
                }
            }
        }
    }
}

TEST(PgpArmor, DearmorRefusals)
{
    const Bytes message = Pattern(100, 8);
    const std::string armor = Enarmor(BlobOf(message));
    const size_t bodyAt = armor.find("\r\n\r\n") + 4;
    const size_t checksumAt = armor.find("\r\n=") + 3;

    std::string changed = armor;
    changed[bodyAt + 10] = changed[bodyAt + 10] == 'A' ? 'B' : 'A';
    std::string invalidChar = armor;
    invalidChar[bodyAt + 10] = '*';
    std::string wrongChecksum = armor;
    wrongChecksum[checksumAt + 1] = wrongChecksum[checksumAt + 1] == 'A' ? 'B' : 'A';
    const std::string lf = Replace(armor, "\r\n", "\n");

    const std::vector<std::tuple<const char*, std::string, const char*>> cases = {
        {"empty text", "", XMessage::kDataCorrupted},
        {"text only", "no armor here\r\n\r\n", XMessage::kDataCorrupted},
        {"leading blank on BEGIN", " " + armor, XMessage::kDataCorrupted},
        {"BEGIN inside a line", "see " + armor, XMessage::kDataCorrupted},
        {"BEGIN after text on its line", "text\r\nsee " + armor, XMessage::kDataCorrupted},
        {"another armor type", Replace(armor, "BEGIN PGP MESSAGE", "BEGIN PGP SIGNATURE"), XMessage::kDataCorrupted},
        {"lower case", Replace(armor, "BEGIN PGP MESSAGE", "BEGIN PGP message"), XMessage::kDataCorrupted},
        {"changed body character", changed, XMessage::kDataCrcError},
        {"invalid body character", invalidChar, XMessage::kDataCrcError},
        {"wrong checksum", wrongChecksum, XMessage::kDataCrcError},
        {"body line dropped", lf.substr(0, lf.find('\n', lf.find("\n\n") + 2) + 1) + lf.substr(lf.find("\n=") + 1),
         XMessage::kDataCrcError},
        {"checksum of 2 characters", lf.substr(0, lf.find("\n=") + 4) + "\n", XMessage::kDataCrcError},
        {"checksum of 3 characters (2 bytes)", lf.substr(0, lf.find("\n=") + 5) + "\n", XMessage::kDataCrcError},
        {"empty checksum", lf.substr(0, lf.find("\n=") + 2) + "\n", XMessage::kDataCrcError},
    };
    for (const auto& [what, text, expected] : cases) {
        SCOPED_TRACE(what);
        EXPECT_TRUE(RaisesAlarm([&] { DearmorText(text); }, expected, "PGP"));
    }
}

TEST(PgpArmor, ReadLine)
{
    const struct {
        std::string text;
        uint32_t pos;
        std::string line;
        uint32_t next;
    } cases[] = {
        {"ab\r\ncd", 0, "ab", 4}, {"ab\ncd", 0, "ab", 3},   {"ab\rcd", 0, "ab", 3},  {"ab\n\rcd", 0, "ab", 3},
        {"ab\n\rcd", 3, "", 4},   {"ab\r\r\n", 0, "ab", 3}, {"ab\r\r\n", 3, "", 5},  {"ab", 0, "ab", 2},
        {"ab", 2, "", 2},         {"", 0, "", 0},           {"\r\n", 0, "", 2},      {"x\r\ny\r\n", 3, "y", 6},
    };
    for (const auto& c : cases) {
        XBlob text;
        text.AppendBytes(c.text.data(), uint32_t(c.text.size()));
        std::string line = "previous content";
        EXPECT_EQ(ReadLine(text, c.pos, line), c.next) << c.text << " at " << c.pos;
        EXPECT_EQ(line, c.line) << c.text << " at " << c.pos;
    }
}

// Random and damaged texts end in a result or one of the two alarms.
TEST(PgpArmor, DamagedAndRandomTextNeverEscapes)
{
    std::mt19937 random(62);
    const std::string armor = Enarmor(BlobOf(Pattern(300, 9)));
    const std::string alphabet = "-=ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/ \r\n\t:";
    for (int i = 0; i < 3000; ++i) {
        std::string text = armor;
        if (i % 3 == 0)
            text = "-----BEGIN PGP MESSAGE-----\n" + std::string(random() % 300, 'x');
        for (int k = 0; k < 1 + i % 4; ++k)
            text[random() % text.size()] = alphabet[random() % alphabet.size()];
        if (i % 5 == 0)
            text.resize(random() % text.size());
        for (char& ch : text)
            if (ch == 'x')
                ch = alphabet[random() % alphabet.size()];
        try {
            DearmorText(text);
        } catch (const XAlarm& alarm) {
            const std::string message = alarm.Message();
            EXPECT_TRUE(message == XMessage::kDataCorrupted || message == XMessage::kDataCrcError) << message;
        }
    }
}

// --- GnuPG --------------------------------------------------------------------------------

class PgpArmorGpg : public GpgSuite {};

// gpg's armor: 64-character lines, LF line ends, no Version line.  Dearmor
// gives back the binary message, which Decrypt reads.
TEST_F(PgpArmorGpg, DearmorReadsGpgArmor)
{
    for (size_t n : {size_t(0), size_t(47), size_t(48), size_t(100000)}) {
        SCOPED_TRACE(n);
        const Bytes plaintext = Pattern(n, 12);
        WriteFile(gpg_->Path("plain.bin"), plaintext);
        ASSERT_TRUE(gpg_->Call("armor pw", {"--rfc2440", "-z", "0", "--s2k-count", "65536", "--yes", "--armor", "-o",
                                            gpg_->Path("msg.asc"), "--symmetric", gpg_->Path("plain.bin")}))
            << gpg_->Log();
        const Bytes armored = ReadFile(gpg_->Path("msg.asc"));
        const std::string text(armored.begin(), armored.end());
        ASSERT_EQ(text.rfind("-----BEGIN PGP MESSAGE-----\n\n", 0), 0u) << text;
        EXPECT_EQ(text.find('\r'), std::string::npos);
        EXPECT_EQ(text.find("Version:"), std::string::npos);

        // gpg's own binary form of the same message.
        ASSERT_TRUE(gpg_->Call("", {"--yes", "-o", gpg_->Path("msg.bin"), "--dearmor", gpg_->Path("msg.asc")}))
            << gpg_->Log();
        const Bytes binary = ReadFile(gpg_->Path("msg.bin"));
        ASSERT_FALSE(binary.empty());
        const size_t bodyAt = text.find("\n\n") + 2;
        EXPECT_EQ(text.find('\n', bodyAt) - bodyAt, binary.size() >= 48 ? 64u : (binary.size() + 2) / 3 * 4);

        const Bytes dearmored = DearmorText(text);
        EXPECT_EQ(dearmored, binary);
        XPgpMessage m;
        m.SetPassword(BlobOf(std::string("armor pw")));
        EXPECT_EQ(Content(m.Decrypt(BlobOf(dearmored))), plaintext);
    }
}

// Around the armor, Dearmor takes what gpg --dearmor takes: text before the
// BEGIN line and blanks or tabs at the ends of lines; both give the same
// bytes.
TEST_F(PgpArmorGpg, DearmorTakesWhatGpgTakes)
{
    const Bytes message = Pattern(300, 13);
    const std::string armor = Replace(Enarmor(BlobOf(message)), "\r\n", "\n");
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"mail text first", "Hello,\n\nhere it is:\n-- \n" + armor},
        {"trailing blanks and tabs", Replace(armor, "\n", " \t\n")},
        {"both, CR LF", Replace("Note\n\n" + Replace(armor, "\n", "\t \n"), "\n", "\r\n")},
    };
    for (const auto& [what, text] : cases) {
        SCOPED_TRACE(what);
        WriteFile(gpg_->Path("variant.asc"), Bytes(text.begin(), text.end()));
        ASSERT_TRUE(gpg_->Call("", {"--yes", "-o", gpg_->Path("variant.bin"), "--dearmor", gpg_->Path("variant.asc")}))
            << gpg_->Log();
        EXPECT_EQ(ReadFile(gpg_->Path("variant.bin")), message);
        EXPECT_EQ(DearmorText(text), message);
    }
}

// gpg --dearmor reads what Enarmor writes, for any bytes.
TEST_F(PgpArmorGpg, GpgReadsEnarmor)
{
    for (size_t n : {size_t(1), size_t(57), size_t(58), size_t(70000)}) {
        const Bytes message = Pattern(n, 13);
        const std::string text = Enarmor(BlobOf(message));
        WriteFile(gpg_->Path("ours.asc"), Bytes(text.begin(), text.end()));
        ASSERT_TRUE(gpg_->Call("", {"--yes", "-o", gpg_->Path("ours.bin"), "--dearmor", gpg_->Path("ours.asc")}))
            << gpg_->Log();
        EXPECT_EQ(ReadFile(gpg_->Path("ours.bin")), message) << n;
    }
}

} // namespace
