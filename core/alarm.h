// Alarms: what the engines throw on failure.  Thrown by value, caught as
// XAlarm&.  The scriptable layer turns Text() into the error description a
// script sees, e.g. "Crypto System: Invalid key - AES".
#pragma once

#include <cstddef>

namespace XMessage {
extern const char kDataCorrupted[];        // "Data is corrupted"
extern const char kDataCrcError[];         // "Data CRC error"
extern const char kUnableToDecrypt[];      // "Unable to decrypt data"
extern const char kInvalidKey[];           // "Invalid key"
extern const char kUnsupportedAlgorithm[]; // "Unsupported algorithm"
} // namespace XMessage

class XAlarm {
public:
    // category and message point at static texts and are not copied; the
    // source is copied (null stays null).
    XAlarm(const char* category, const char* message, const char* source);
    XAlarm(const XAlarm& other);
    XAlarm& operator=(const XAlarm&) = delete;
    virtual ~XAlarm();

    const char* Category() const { return category_; }
    const char* Message() const { return message_; }
    const char* Source() const { return source_; }

    // Composes "category message - source" into buffer, which holds n + 1
    // characters; parts that do not fit are cut or left out.
    void Text(char* buffer, size_t n) const;

private:
    const char* category_;
    const char* message_;
    char* source_;
};

class XCryptoAlarm : public XAlarm {
public:
    static const char kCategory[]; // "Crypto System: "
    explicit XCryptoAlarm(const char* message, const char* source = nullptr)
        : XAlarm(kCategory, message, source)
    {
    }
};
