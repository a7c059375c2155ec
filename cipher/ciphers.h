// The block ciphers the engine has, one row each, by OpenPGP symmetric
// algorithm id.  The PGP reader and writer look ids up here, so adding a
// cipher is one row (and its engine file).  `name` is the type library's name
// for the id without its prefix (zelCipher + name).  AES appears once per key
// size: OpenPGP gives each its own id.
#pragma once

#include "cipher/block_cipher.h"

#include <cstddef>
#include <cstdint>
#include <memory>

struct XCipherAlgorithm {
    uint8_t pgpId;
    const char* name;
    uint32_t blockSize; // bytes
    uint32_t keySize;   // bytes of key an OpenPGP session key holds
    std::unique_ptr<XBlockCipher> (*make)();
};

// The table in id order; `count` receives its length.
const XCipherAlgorithm* CipherAlgorithms(size_t& count);
// The row for the OpenPGP id, or null.
const XCipherAlgorithm* FindCipherAlgorithm(uint8_t pgpId);
