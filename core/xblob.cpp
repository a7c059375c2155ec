#include "core/xblob.h"

#include "core/alarm.h"
#include "core/wipe.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

uint8_t* Allocate(uint32_t capacity)
{
    // malloc(0) may return null legitimately; ask for one byte instead so that
    // a null data pointer always means a failed allocation.
    void* p = std::malloc(capacity ? capacity : 1);
    if (!p)
        throw std::bad_alloc();
    return static_cast<uint8_t*>(p);
}

// Every array is wiped before it goes back to the heap: a blob may have held
// a password, a key, a private key blob or plaintext, and the heap hands
// freed memory to the next allocation as it is.
void Release(uint8_t* data, uint32_t capacity)
{
    if (data) {
        SecureWipe(data, capacity);
        std::free(data);
    }
}

uint32_t Checked(uint64_t value)
{
    if (value > UINT32_MAX)
        throw std::bad_alloc();
    return static_cast<uint32_t>(value);
}

} // namespace

XBlob::XBlob(uint32_t capacity)
    : data_(Allocate(capacity)), capacity_(capacity), length_(0)
{
}

XBlob::XBlob(const XBlob& other)
    : data_(Allocate(other.capacity_)), capacity_(other.capacity_), length_(other.length_)
{
    if (length_)
        std::memcpy(data_, other.data_, length_);
}

XBlob::XBlob(XBlob&& other) noexcept
    : data_(other.data_), capacity_(other.capacity_), length_(other.length_)
{
    other.data_ = nullptr;
    other.capacity_ = 0;
    other.length_ = 0;
}

XBlob::~XBlob()
{
    Release(data_, capacity_);
}

XBlob& XBlob::operator=(const XBlob& other)
{
    Assign(other);
    return *this;
}

XBlob& XBlob::operator=(XBlob&& other) noexcept
{
    if (this != &other) {
        Release(data_, capacity_);
        data_ = other.data_;
        capacity_ = other.capacity_;
        length_ = other.length_;
        other.data_ = nullptr;
        other.capacity_ = 0;
        other.length_ = 0;
    }
    return *this;
}

void XBlob::Reallocate(uint32_t capacity)
{
    uint8_t* fresh = Allocate(capacity);
    if (length_)
        std::memcpy(fresh, data_, length_);
    Release(data_, capacity_);
    data_ = fresh;
    capacity_ = capacity;
}

void XBlob::Grow(uint32_t extra)
{
    Reallocate(Checked(uint64_t(capacity_) + extra));
}

void XBlob::InsertByte(uint8_t b, uint32_t pos)
{
    if (length_ == capacity_) {
        // Doubling gives no room at capacity 0 (a buffer handed over empty
        // by the blob component, or the Xor of two empty buffers).
        Grow(capacity_ ? capacity_ : kInitialCapacity);
    }
    if (pos >= length_) {
        data_[length_] = b;
    } else {
        std::memmove(data_ + pos + 1, data_ + pos, length_ - pos);
        data_[pos] = b;
    }
    ++length_;
}

void XBlob::Insert(const XBlob& other, uint32_t pos)
{
    if (&other == this) {
        // Growing would free the array we are about to copy from.
        const XBlob copy(other);
        Insert(copy, pos);
        return;
    }
    const uint32_t n = other.length_;
    const uint64_t total = uint64_t(length_) + n;
    Checked(total);
    if (total >= capacity_)
        Grow(other.capacity_);
    // An empty other may have no array at all (a moved-from buffer), and
    // memcpy must not be handed a null pointer even for 0 bytes.
    if (n && pos < length_) {
        std::memmove(data_ + pos + n, data_ + pos, length_ - pos);
        std::memcpy(data_ + pos, other.data_, n);
    } else if (n) {
        std::memcpy(data_ + length_, other.data_, n);
    }
    length_ += n;
}

void XBlob::Assign(const XBlob& other)
{
    if (&other == this)
        return;
    length_ = 0;
    Insert(other, 0);
}

void XBlob::Erase(uint32_t pos, uint32_t count)
{
    if (uint64_t(pos) + count > length_)
        count = length_ - pos;
    if (count == 0)
        return; // also keeps a null array (moved-from buffer) away from memmove
    std::memmove(data_ + pos, data_ + pos + count, length_ - pos - count);
    length_ -= count;
}

void XBlob::SetLength(uint32_t n)
{
    if (n > capacity_)
        Grow(n - capacity_);
    length_ = n;
}

uint32_t XBlob::CapacityForAppend(uint64_t needed) const
{
    uint64_t capacity = capacity_;
    while (capacity < needed)
        capacity = capacity ? capacity * 2 : kInitialCapacity;
    return Checked(capacity);
}

void XBlob::AppendBytes(const void* source, uint32_t count)
{
    // Same final capacity as `count` single-byte appends, in one allocation.
    const uint64_t needed = uint64_t(length_) + count;
    Checked(needed);
    const uint8_t* src = static_cast<const uint8_t*>(source);
    if (needed > capacity_) {
        const uint32_t capacity = CapacityForAppend(needed);
        if (src >= data_ && src < data_ + capacity_) {
            const size_t offset = size_t(src - data_);
            Reallocate(capacity);
            src = data_ + offset;
        } else {
            Reallocate(capacity);
        }
    }
    if (count)
        std::memmove(data_ + length_, src, count);
    length_ += count;
}

void XBlob::CopyRange(XBlob& dest, uint32_t pos, uint32_t count) const
{
    if (pos >= length_)
        return;
    const uint32_t end = uint64_t(pos) + count < length_ ? pos + count : length_;
    dest.AppendBytes(data_ + pos, end - pos);
}

void XBlob::CopyOut(void* target, uint32_t count, uint32_t pos) const
{
    if (count)
        std::memcpy(target, data_ + pos, count);
}

void XBlob::AssignText(const char* text)
{
    Clear();
    AppendBytes(text, Checked(std::strlen(text)));
}

bool XBlob::Equals(const XBlob& other) const
{
    return length_ == other.length_ && (length_ == 0 || std::memcmp(data_, other.data_, length_) == 0);
}

bool XBlob::ConstantTimeEquals(const XBlob& other) const
{
    if (length_ != other.length_)
        return false;
    // OR of the XOR of every pair: no branch on the contents, no early exit.
    uint8_t difference = 0;
    for (uint32_t i = 0; i < length_; ++i)
        difference |= uint8_t(data_[i] ^ other.data_[i]);
    return difference == 0;
}

void XBlob::AppendLong(uint32_t v)
{
    const uint8_t bytes[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
    AppendBytes(bytes, 4);
}

uint32_t XBlob::ReadLong(uint32_t pos) const
{
    return uint32_t(data_[pos]) << 24 | uint32_t(data_[pos + 1]) << 16 | uint32_t(data_[pos + 2]) << 8 |
           uint32_t(data_[pos + 3]);
}

void XBlob::AppendItem(const XBlob& other)
{
    if (&other == this) {
        const XBlob copy(other);
        AppendItem(copy);
        return;
    }
    AppendLong(other.length_);
    Append(other);
}

uint32_t XBlob::ExtractItem(uint32_t pos, XBlob& out) const
{
    if (&out == this) {
        XBlob payload;
        const uint32_t next = ExtractItem(pos, payload);
        out.Assign(payload);
        return next;
    }
    out.Clear();
    if (pos > length_)
        throw XCryptoAlarm(XMessage::kDataCorrupted, "XBlob");
    const uint32_t available = length_ - pos;
    if (available < 4)
        throw XCryptoAlarm(XMessage::kDataCorrupted, "XBlob");
    const uint32_t n = ReadLong(pos);
    if (n > available - 4)
        throw XCryptoAlarm(XMessage::kDataCorrupted, "XBlob");
    CopyRange(out, pos + 4, n);
    return pos + 4 + n;
}

XBlob XBlob::Xor(const XBlob& a, const XBlob& b)
{
    const XBlob& longer = a.length_ >= b.length_ ? a : b;
    const XBlob& shorter = a.length_ >= b.length_ ? b : a;
    XBlob result(longer.length_);
    result.length_ = longer.length_;
    for (uint32_t i = 0; i < longer.length_; ++i)
        result.data_[i] = longer.data_[i] ^ (i < shorter.length_ ? shorter.data_[i] : 0);
    return result;
}
