// The standard RSA schemes of PKCS #1 v2.2 (RFC 8017) over the engine's
// keys: RSASSA-PKCS1-v1_5 and RSASSA-PSS signatures, RSAES-OAEP encryption,
// each over SHA-1, SHA-256, SHA-384 or SHA-512, MGF1 with the same hash.
// The block size k is the byte length of n.
//
// Private operations go through XRsa::ApplyPrivate: blinded, constant-time
// exponentiation, the result checked with e before it is used.
//
// Alarms (source "RSA"): "Invalid key" for a missing or unusable key half
// and for a key too short for the scheme and hash (PKCS #1 v1.5 needs
// k >= DigestInfo + 11, PSS needs k >= 2 hLen + 2 or so, OAEP
// k >= 2 hLen + 2); "Unable to decrypt data" for any OAEP ciphertext that
// does not decode, whatever the reason; "Unsupported algorithm" from
// FindSchemeHash.
#pragma once

#include "core/xblob.h"
#include "hash/digest.h"
#include "rsa/rsa.h"

#include <cstdint>

// The hash for a name as the Hash class takes it ("SHA256", "sha-256", ...),
// one of SHA-1, SHA-256, SHA-384, SHA-512; anything else (a name the table
// lacks, or MD5, SHA-3, ...) is "Unsupported algorithm" / "RSA".
const XHashAlgorithm& FindSchemeHash(const char* name);

// MGF1 (RFC 8017 B.2.1): `length` bytes of Hash(seed | counter), counter
// 0, 1, 2, ... as 4 big-endian bytes.
XBlob Mgf1(const XHashAlgorithm& hash, const uint8_t* seed, uint32_t seedLength, uint32_t length);

// k bytes; the same key and data give the same signature.
XBlob SignPkcs1(const XRsa& rsa, const XBlob& data, const XHashAlgorithm& hash);
// true for a valid signature of exactly k bytes; a bad signature is false,
// never an alarm ("Invalid key" only when the public half is missing).
bool VerifyPkcs1(const XRsa& rsa, const XBlob& data, const XBlob& signature, const XHashAlgorithm& hash);

// Salt length = hash length, salt from `entropy` (tests fix it).
XBlob SignPss(const XRsa& rsa, const XBlob& data, const XHashAlgorithm& hash,
              XRsa::EntropySource entropy = SystemEntropy);
// Accepts any salt length the encoding allows.
bool VerifyPss(const XRsa& rsa, const XBlob& data, const XBlob& signature, const XHashAlgorithm& hash);

// The longest message one OAEP block carries: k - 2 hLen - 2, or -1 when the
// key is too short for the hash (or has no modulus).
int64_t OaepCapacity(const XRsa& rsa, const XHashAlgorithm& hash);
// One block of k bytes; data longer than OaepCapacity throws
// std::invalid_argument.  The seed comes from `entropy` (tests fix it).
XBlob EncryptOaep(const XRsa& rsa, const XBlob& data, const XHashAlgorithm& hash, const XBlob& label,
                  XRsa::EntropySource entropy = SystemEntropy);
// The message of one k-byte block.  Every check runs whatever the earlier
// ones found, and all failures are the same "Unable to decrypt data".
XBlob DecryptOaep(const XRsa& rsa, const XBlob& data, const XHashAlgorithm& hash, const XBlob& label);
