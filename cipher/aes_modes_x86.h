// The AES modes' loops on x86 vector instructions, for aes_modes.cpp.
// Internal to cipher/.
//
// Each function runs whole blocks only and is called only when the process
// has selected the AES instructions (and, for GCM, the carry-less multiply);
// `wide` picks the 256-bit loops (AesEngine::kVaes), which hand the last
// blocks of a message that do not fill a 256-bit group to the 128-bit ones.
// Counter blocks are read, and written back as the next unused one.
#pragma once

#include "cipher/aes.h"
#include "cipher/ghash.h"

#include <cstddef>
#include <cstdint>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define ZEL_AES_MODES_X86 1

namespace aes_modes_x86 {

// Counter mode: GCM's counter (the last 32 bits count, modulo 2^32) and
// CTR's (all 128 bits count).
void Ctr32Blocks(bool wide, const XAes& aes, uint8_t* counter, const uint8_t* in, uint8_t* out, size_t blocks);
void Ctr128Blocks(bool wide, const XAes& aes, uint8_t* counter, const uint8_t* in, uint8_t* out, size_t blocks);

// GCM: counter mode from `counter` and the ciphertext (the output when
// enciphering, the input when deciphering) hashed into y, in one pass.
void GcmBlocks(bool wide, bool encrypt, const XAes& aes, const XGhashKey& key, uint8_t* counter,
               const uint8_t* in, uint8_t* out, size_t blocks, uint8_t* y);

// CBC deciphering from `iv`; in and out do not overlap.
void CbcDecryptBlocks(bool wide, const XAes& aes, const uint8_t* iv, const uint8_t* in, uint8_t* out,
                      size_t blocks);

// CFB with a full-block shift (OpenPGP's between resyncs) from `feedback`,
// which ends as the last ciphertext block; in may equal out.  Enciphering
// is one block after another whatever the width.
void CfbDecryptBlocks(bool wide, const XAes& aes, uint8_t* feedback, const uint8_t* in, uint8_t* out,
                      size_t blocks);
void CfbEncryptBlocks(const XAes& aes, uint8_t* feedback, const uint8_t* in, uint8_t* out, size_t blocks);

// CBC and CFB deciphering on 512-bit vectors (AesWide512Active()), the last
// blocks that do not fill a group on the 256-bit loops.
void CbcDecryptBlocks512(const XAes& aes, const uint8_t* iv, const uint8_t* in, uint8_t* out, size_t blocks);
void CfbDecryptBlocks512(const XAes& aes, uint8_t* feedback, const uint8_t* in, uint8_t* out, size_t blocks);

} // namespace aes_modes_x86
#endif
