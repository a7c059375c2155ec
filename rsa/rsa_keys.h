// RSA keys in the standard files: PKCS #1 RSAPrivateKey and RSAPublicKey,
// PKCS #8 PrivateKeyInfo (unencrypted) and X.509 SubjectPublicKeyInfo, in
// DER or PEM ("RSA PRIVATE KEY", "PRIVATE KEY", "RSA PUBLIC KEY", "PUBLIC
// KEY").
//
// Reading replaces the engine's whole key (both halves from a private key
// file, the public half alone from a public one) only once everything has
// been read and checked; a failure leaves the key as it was:
//  - "Data is corrupted" / "RSA": not one of the four structures, DER that
//    breaks the rules (see der.h), bytes after the structure, an encrypted
//    PKCS #8 file, a multi-prime key, numbers that do not make a key
//    (n even or outside 512 ... 16384 bits, e even, below 3 or not below
//    n, p q != n, dP, dQ or qInv that do not match p, q and d, e dP or e dQ
//    not 1 modulo p - 1 or q - 1).
//  - "Unsupported algorithm" / "RSA": a PKCS #8 or SubjectPublicKeyInfo
//    file of another algorithm (EC, Ed25519, DSA, ...).
// The algorithm identifiers rsaEncryption and RSASSA-PSS are both read as
// RSA keys (a PSS key's parameters are not kept).
//
// Writing: PKCS #8 for the private key (version 0, rsaEncryption with NULL
// parameters, RSAPrivateKey version 0), SubjectPublicKeyInfo for the public
// key.  "Invalid key" / "RSA" when the half is not loaded; writing the
// private key needs e as well, so an engine holding only the private half
// of its own key blobs cannot write it.
#pragma once

#include "core/xblob.h"
#include "rsa/rsa.h"

#include <string>

void ImportRsaKeyDer(XRsa& rsa, const XBlob& der);
void ImportRsaKeyPem(XRsa& rsa, const std::string& text);

XBlob ExportRsaPrivateKeyDer(const XRsa& rsa);
XBlob ExportRsaPublicKeyDer(const XRsa& rsa);
std::string ExportRsaPrivateKeyPem(const XRsa& rsa);
std::string ExportRsaPublicKeyPem(const XRsa& rsa);
