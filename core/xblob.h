// XBlob: the byte string every engine works on, and the storage inside every
// blob object of the blob component.  The field layout (data, capacity,
// length) and the allocator (the C runtime's malloc/free) are shared with
// that component, which hands us the address of its XBlob and frees whatever
// array it holds when the object dies.  Keep this class standard-layout and
// free of virtual functions.  Every array is wiped before it is freed or
// replaced by a larger one (blobs carry passwords, keys and plaintext).
#pragma once

#include <cstddef>
#include <cstdint>

class XBlob {
public:
    static constexpr uint32_t kInitialCapacity = 16;

    explicit XBlob(uint32_t capacity = kInitialCapacity);
    XBlob(const XBlob& other);
    XBlob(XBlob&& other) noexcept;
    ~XBlob();

    // Copy assignment replaces the contents and keeps this buffer's storage
    // (as Assign does); move assignment takes over the other buffer's array.
    XBlob& operator=(const XBlob& other);
    XBlob& operator=(XBlob&& other) noexcept;

    uint32_t Length() const { return length_; }
    uint32_t Capacity() const { return capacity_; }
    uint8_t* Data() { return data_; }
    const uint8_t* Data() const { return data_; }

    void Clear() { length_ = 0; }

    // No bounds check: the caller keeps i < Length().
    uint8_t& At(uint32_t i) { return data_[i]; }
    const uint8_t& At(uint32_t i) const { return data_[i]; }

    // Capacity grows by `extra`; one new array, used bytes copied, old array freed.
    // A capacity that would pass 2^32 - 1 throws std::bad_alloc.
    void Grow(uint32_t extra);

    void InsertByte(uint8_t b, uint32_t pos);
    void AppendByte(uint8_t b) { InsertByte(b, length_); }
    void Insert(const XBlob& other, uint32_t pos);
    void Append(const XBlob& other) { Insert(other, length_); }
    void Assign(const XBlob& other);
    void Erase(uint32_t pos, uint32_t count);
    void SetLength(uint32_t n);

    void CopyRange(XBlob& dest, uint32_t pos, uint32_t count) const;
    void CopyOut(void* target, uint32_t count, uint32_t pos) const;
    void AppendBytes(const void* source, uint32_t count);
    void AssignText(const char* text);

    bool Equals(const XBlob& other) const;
    // Equals for secrets: buffers of one length are compared in full, every
    // byte, so the time taken does not tell where they differ.  Buffers of
    // different lengths are unequal at once.
    bool ConstantTimeEquals(const XBlob& other) const;
    bool operator==(const XBlob& other) const { return Equals(other); }
    bool operator!=(const XBlob& other) const { return !Equals(other); }

    void AppendLong(uint32_t v);
    uint32_t ReadLong(uint32_t pos) const;

    // Length-prefixed item: 4-byte big-endian length, then the bytes.
    void AppendItem(const XBlob& other);
    // Reads the item at pos into out and returns the position behind it.
    // Throws XCryptoAlarm "Data is corrupted" / "XBlob" for a malformed item,
    // leaving out empty and this buffer unchanged.
    uint32_t ExtractItem(uint32_t pos, XBlob& out) const;

    static XBlob Xor(const XBlob& a, const XBlob& b);

private:
    // Capacity that `count` single-byte appends would reach by doubling.
    uint32_t CapacityForAppend(uint64_t needed) const;
    void Reallocate(uint32_t capacity);

    uint8_t* data_;
    uint32_t capacity_;
    uint32_t length_;
};
