// Alarms: the composed text a script finally sees, its length limit, and the
// ownership of the source text while an alarm is copied and thrown.
#include "core/alarm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr size_t kGuard = 16;

// Composes into a buffer of n + 1 characters followed by guard bytes, checks
// that nothing was written past the buffer and that position n holds the
// terminator, and returns the text.
std::string Compose(const XAlarm& alarm, size_t n)
{
    std::vector<char> buffer(n + 1 + kGuard, '#');
    alarm.Text(buffer.data(), n);
    EXPECT_EQ(buffer[n], '\0') << "limit " << n;
    EXPECT_EQ(std::string(buffer.begin() + n + 1, buffer.end()), std::string(kGuard, '#')) << "limit " << n;
    return std::string(buffer.data());
}

TEST(XAlarmText, CatalogueTextsComposeWhole)
{
    struct Case {
        const char* message;
        const char* source;
        const char* text;
    };
    const Case cases[] = {
        {XMessage::kDataCorrupted, "XBlob", "Crypto System: Data is corrupted - XBlob"},
        {XMessage::kDataCrcError, "PGP", "Crypto System: Data CRC error - PGP"},
        {XMessage::kUnableToDecrypt, "RSA", "Crypto System: Unable to decrypt data - RSA"},
        {XMessage::kUnableToDecrypt, nullptr, "Crypto System: Unable to decrypt data"},
        {XMessage::kInvalidKey, "TripleDES", "Crypto System: Invalid key - TripleDES"},
        {XMessage::kInvalidKey, nullptr, "Crypto System: Invalid key"},
        {XMessage::kUnsupportedAlgorithm, nullptr, "Crypto System: Unsupported algorithm"},
        {XMessage::kUnsupportedAlgorithm, "PGP", "Crypto System: Unsupported algorithm - PGP"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const XCryptoAlarm alarm(c.message, c.source);
        EXPECT_EQ(Compose(alarm, 256), c.text);
    }
}

// Category (15 characters) + "Invalid key" (11) + " - " + "AES": the
// message is cut to the room left; the source appears only when " - " and at
// least one of its characters fit.
TEST(XAlarmText, LimitCutsCategoryAndMessageAndDropsSourceWithoutRoom)
{
    struct Case {
        size_t n;
        const char* text;
    };
    const Case cases[] = {
        {0, ""},
        {1, "C"},
        {5, "Crypt"},
        {14, "Crypto System:"},
        {15, "Crypto System: "},
        {16, "Crypto System: I"},
        {25, "Crypto System: Invalid ke"},
        {26, "Crypto System: Invalid key"},
        {28, "Crypto System: Invalid key"},
        {29, "Crypto System: Invalid key"},
        {30, "Crypto System: Invalid key - A"},
        {31, "Crypto System: Invalid key - AE"},
        {32, "Crypto System: Invalid key - AES"},
        {33, "Crypto System: Invalid key - AES"},
        {256, "Crypto System: Invalid key - AES"},
    };
    const XCryptoAlarm alarm(XMessage::kInvalidKey, "AES");
    const XCryptoAlarm sourceless(XMessage::kInvalidKey);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.n);
        EXPECT_EQ(Compose(alarm, c.n), c.text);
        const std::string without = std::string(c.text).substr(0, std::min<size_t>(c.n, 26));
        EXPECT_EQ(Compose(sourceless, c.n), without);
    }
}

TEST(XAlarmText, WithoutCategoryTheMessageHasTheWholeRoom)
{
    const XAlarm alarm(nullptr, XMessage::kInvalidKey, "RSA");
    EXPECT_EQ(Compose(alarm, 256), "Invalid key - RSA");
    EXPECT_EQ(Compose(alarm, 5), "Inval");
    EXPECT_EQ(Compose(alarm, 14), "Invalid key");
    EXPECT_EQ(Compose(alarm, 15), "Invalid key - R");

    const XAlarm other("Other: ", XMessage::kDataCrcError, nullptr);
    EXPECT_EQ(Compose(other, 256), "Other: Data CRC error");
}

TEST(XAlarmText, TextsArePointedAtAndTheSourceIsCopied)
{
    char source[] = "AES";
    const XCryptoAlarm alarm(XMessage::kInvalidKey, source);
    source[0] = 'X';
    EXPECT_EQ(alarm.Category(), XCryptoAlarm::kCategory);
    EXPECT_EQ(alarm.Message(), XMessage::kInvalidKey);
    EXPECT_NE(alarm.Source(), source);
    EXPECT_EQ(Compose(alarm, 256), "Crypto System: Invalid key - AES");

    EXPECT_EQ(XCryptoAlarm(XMessage::kInvalidKey).Source(), nullptr);
}

TEST(XAlarmLifetime, CopyOwnsItsSourceText)
{
    auto first = std::make_unique<XCryptoAlarm>(XMessage::kInvalidKey, "Twofish");
    const XCryptoAlarm copy(*first);
    EXPECT_NE(copy.Source(), first->Source());
    first.reset();
    EXPECT_STREQ(copy.Source(), "Twofish");
    EXPECT_EQ(copy.Message(), XMessage::kInvalidKey);
    EXPECT_EQ(Compose(copy, 256), "Crypto System: Invalid key - Twofish");

    const XCryptoAlarm none(XMessage::kUnsupportedAlgorithm);
    const XCryptoAlarm none_copy(none);
    EXPECT_EQ(none_copy.Source(), nullptr);
    EXPECT_EQ(Compose(none_copy, 256), "Crypto System: Unsupported algorithm");
}

// The way engines use alarms: a named alarm thrown (and so copied) while the
// original is destroyed by unwinding, caught by reference to the base class.
TEST(XAlarmLifetime, ThrownAlarmIsCaughtAsXAlarm)
{
    try {
        const XCryptoAlarm local(XMessage::kUnableToDecrypt, "Blowfish");
        throw local;
    } catch (const XAlarm& alarm) {
        EXPECT_NE(dynamic_cast<const XCryptoAlarm*>(&alarm), nullptr);
        EXPECT_EQ(Compose(alarm, 256), "Crypto System: Unable to decrypt data - Blowfish");
    }
}

} // namespace
