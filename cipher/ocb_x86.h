// OCB's whole blocks on the x86 AES instructions, for ocb.cpp.  Internal to
// cipher/.
//
// Called only with an XAes engine while the process has selected the AES
// instructions; `wide` (AesEngine::kVaes) runs sixteen blocks per group on
// 256-bit vectors and hands the last blocks to the 128-bit loop.
#pragma once

#include "cipher/aes.h"
#include "cipher/aes_modes_x86.h"

#include <cstddef>
#include <cstdint>

#if ZEL_AES_MODES_X86
namespace ocb_x86 {

// `blocks` whole blocks from in to out (the same or not overlapping).
// `levels` holds L_0, L_1, ... as 16-byte strings; `index` counts the blocks
// before these, `offset` (16 bytes) is the last one's offset and `checksum`
// (16 bytes) the XOR of the plaintext blocks so far: all three are read and
// written back.
void Blocks(bool wide, bool encrypt, const XAes& aes, const uint8_t* levels, uint64_t& index, uint8_t* offset,
            uint8_t* checksum, const uint8_t* in, uint8_t* out, size_t blocks);

} // namespace ocb_x86
#endif
