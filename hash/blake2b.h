// BLAKE2b (RFC 7693): digests of 1..64 bytes, optionally keyed with 0..64
// bytes, fed in pieces of any size.  Argon2 builds its variable-length hash
// and its first and last steps on it.
#pragma once

#include <cstddef>
#include <cstdint>

class XBlake2b {
public:
    static constexpr uint32_t kMaxOutLength = 64;
    static constexpr uint32_t kMaxKeyLength = 64;
    static constexpr uint32_t kBlockSize = 128;

    // An outLength outside 1..64 or a keyLength above 64 raises
    // std::invalid_argument.  A null key with keyLength 0 is the unkeyed hash.
    explicit XBlake2b(uint32_t outLength = 64, const uint8_t* key = nullptr, uint32_t keyLength = 0);
    ~XBlake2b(); // wipes state
    XBlake2b(const XBlake2b&) = delete;
    XBlake2b& operator=(const XBlake2b&) = delete;

    void Update(const uint8_t* data, size_t n);
    // Writes outLength bytes.  The hash is finished: a later Update or Final
    // raises std::logic_error.
    void Final(uint8_t* out); // outLength bytes

    uint32_t OutLength() const { return outLength_; }

private:
    void Compress(const uint8_t* block, bool last);

    uint64_t h_[8];
    uint64_t counter_[2]; // bytes fed so far, 128 bits
    uint8_t buffer_[kBlockSize];
    uint32_t buffered_;
    uint32_t outLength_;
    bool finished_;
};
