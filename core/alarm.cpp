#include "core/alarm.h"

#include <cstdlib>
#include <cstring>

namespace XMessage {
const char kDataCorrupted[] = "Data is corrupted";
const char kDataCrcError[] = "Data CRC error";
const char kUnableToDecrypt[] = "Unable to decrypt data";
const char kInvalidKey[] = "Invalid key";
const char kUnsupportedAlgorithm[] = "Unsupported algorithm";
} // namespace XMessage

const char XCryptoAlarm::kCategory[] = "Crypto System: ";

namespace {

// An alarm may be copied while it is being thrown, so running out of memory
// here must not throw: the copy then simply has no source.
char* CopyText(const char* text)
{
    if (!text)
        return nullptr;
    const size_t n = std::strlen(text) + 1;
    char* copy = static_cast<char*>(std::malloc(n));
    if (copy)
        std::memcpy(copy, text, n);
    return copy;
}

// Appends at most `limit` characters of text at buffer[used]; returns the new length.
size_t AppendCut(char* buffer, size_t used, const char* text, size_t limit)
{
    size_t n = std::strlen(text);
    if (n > limit)
        n = limit;
    std::memcpy(buffer + used, text, n);
    buffer[used + n] = '\0';
    return used + n;
}

} // namespace

XAlarm::XAlarm(const char* category, const char* message, const char* source)
    : category_(category), message_(message), source_(CopyText(source))
{
}

XAlarm::XAlarm(const XAlarm& other)
    : category_(other.category_), message_(other.message_), source_(CopyText(other.source_))
{
}

XAlarm::~XAlarm()
{
    std::free(source_);
}

void XAlarm::Text(char* buffer, size_t n) const
{
    buffer[n] = '\0';
    buffer[0] = '\0';
    size_t used = 0;
    long room = long(n);
    if (category_) {
        used = AppendCut(buffer, used, category_, n);
        room = long(n) - long(std::strlen(category_));
    }
    if (room < 1)
        return;
    used = AppendCut(buffer, used, message_, size_t(room));
    const long room2 = room - long(std::strlen(message_) + 3);
    if (room2 < 1 || !source_)
        return;
    used = AppendCut(buffer, used, " - ", 3);
    AppendCut(buffer, used, source_, size_t(room2));
}
