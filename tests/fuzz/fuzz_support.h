// Small helpers shared by the fuzz targets: a failed check aborts (libFuzzer
// reports it with the input), byte strings move between std::vector and
// XBlob, inputs are read as a stream of fields, and every alarm a target
// catches can be checked for what it says.
#pragma once

#include "core/alarm.h"
#include "core/xblob.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace fuzz {

#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)

inline XBlob Blob(const uint8_t* data, size_t size)
{
    XBlob b;
    if (size)
        b.AppendBytes(data, uint32_t(size));
    return b;
}

inline XBlob Blob(const std::vector<uint8_t>& v)
{
    return Blob(v.data(), v.size());
}

inline std::vector<uint8_t> Bytes(const XBlob& b)
{
    return b.Length() ? std::vector<uint8_t>(b.Data(), b.Data() + b.Length()) : std::vector<uint8_t>();
}

// Fields in input order; past the end every read gives zeros (and empty parts).
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    uint16_t Short() { return uint16_t(Byte() << 8 | Byte()); }
    uint32_t Long()
    {
        const uint32_t high = Short();
        return high << 16 | Short();
    }
    // A part: a 2-byte big-endian length, then that many bytes (cut to what
    // is left).  The length FFFF takes everything that is left, so a part is
    // as long as the input lets it be.
    std::vector<uint8_t> Part()
    {
        size_t length = Short();
        if (length == 0xFFFF || length > Left())
            length = Left();
        std::vector<uint8_t> part(data_ + pos_, data_ + pos_ + length);
        pos_ += length;
        return part;
    }
    std::vector<uint8_t> Rest() { return std::vector<uint8_t>(data_ + pos_, data_ + size_); }
    size_t Left() const { return size_ - pos_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// What Text composes for an alarm: "category message - source" whole, and
// for every smaller buffer a prefix of it, always terminated within n + 1
// characters; and the same for a copy of the alarm.
inline void CheckAlarmText(const XAlarm& alarm)
{
    // A copy says the same, from a source of its own.
    const XAlarm copy(alarm);
    FUZZ_CHECK(copy.Category() == alarm.Category() && copy.Message() == alarm.Message());
    FUZZ_CHECK((copy.Source() == nullptr) == (alarm.Source() == nullptr));
    FUZZ_CHECK(!alarm.Source() || (copy.Source() != alarm.Source() && std::strcmp(copy.Source(), alarm.Source()) == 0));

    std::string full = std::string(alarm.Category() ? alarm.Category() : "") + alarm.Message();
    if (alarm.Source())
        full += std::string(" - ") + alarm.Source();
    std::vector<char> buffer(full.size() + 2, '\x7f');
    alarm.Text(buffer.data(), full.size() + 1);
    FUZZ_CHECK(full == buffer.data());
    for (size_t n : {size_t(0), size_t(1), full.size() / 2, full.size() - 1}) {
        if (n > full.size())
            continue;
        std::fill(buffer.begin(), buffer.end(), '\x7f');
        alarm.Text(buffer.data(), n);
        const size_t length = strnlen(buffer.data(), n + 1);
        FUZZ_CHECK(length <= n);
        FUZZ_CHECK(full.compare(0, length, buffer.data(), length) == 0);
    }
}

// The alarm is the expected one: the message, and the source (null for none).
inline bool Is(const XAlarm& alarm, const char* message, const char* source)
{
    if (std::strcmp(alarm.Message(), message) != 0)
        return false;
    if (!source || !alarm.Source())
        return source == alarm.Source();
    return std::strcmp(source, alarm.Source()) == 0;
}

} // namespace fuzz
