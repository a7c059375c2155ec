#include "rsa/rsa_keys.h"

#include "core/alarm.h"
#include "rsa/der.h"
#include "rsa/pem.h"

#include <cstring>

namespace {

const char kSource[] = "RSA";

// Object identifiers, content bytes: rsaEncryption (1.2.840.113549.1.1.1)
// and RSASSA-PSS (1.2.840.113549.1.1.10).
const uint8_t kRsaEncryption[] = {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x01, 0x01};
const uint8_t kRsaPss[] = {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x01, 0x0a};

bool IsOid(const XBlob& oid, const uint8_t* bytes, size_t length)
{
    return oid.Length() == length && std::memcmp(oid.Data(), bytes, length) == 0;
}

enum class Shape { kAny, kPkcs1Private, kPkcs8, kPkcs1Public, kSpki };

struct KeyNumbers {
    bool isPrivate = false;
    XBigInt n, e, d, p, q, dP, dQ, qInv;
};

XBigInt Number(XDerReader& r)
{
    XBigInt x;
    x.FromBytes(r.ReadUnsigned());
    return x;
}

// AlgorithmIdentifier: rsaEncryption with NULL or no parameters, or
// RSASSA-PSS with or without its parameters; another algorithm is
// "Unsupported algorithm".
void ReadAlgorithm(XDerReader& outer)
{
    XDerReader alg = outer.Enter(XDer::kSequence);
    const XBlob oid = alg.Read(XDer::kObjectId);
    if (IsOid(oid, kRsaEncryption, sizeof kRsaEncryption)) {
        if (!alg.AtEnd())
            alg.ReadNull();
    } else if (IsOid(oid, kRsaPss, sizeof kRsaPss)) {
        if (!alg.AtEnd())
            alg.Enter(XDer::kSequence);
    } else {
        throw XCryptoAlarm(XMessage::kUnsupportedAlgorithm, kSource);
    }
    alg.ExpectEnd();
}

// RSAPrivateKey ::= SEQUENCE { version 0, n, e, d, p, q, dP, dQ, qInv }
void ReadPkcs1Private(const XBlob& der, KeyNumbers& key)
{
    XDerReader top(der);
    XDerReader seq = top.Enter(XDer::kSequence);
    top.ExpectEnd();
    // Version 1 is a multi-prime key, which the engine does not serve.
    if (seq.ReadSmall() != 0)
        DerCorrupted();
    for (XBigInt* x : {&key.n, &key.e, &key.d, &key.p, &key.q, &key.dP, &key.dQ, &key.qInv})
        *x = Number(seq);
    seq.ExpectEnd();
    key.isPrivate = true;
}

// RSAPublicKey ::= SEQUENCE { n, e }
void ReadPkcs1Public(const XBlob& der, KeyNumbers& key)
{
    XDerReader top(der);
    XDerReader seq = top.Enter(XDer::kSequence);
    top.ExpectEnd();
    key.n = Number(seq);
    key.e = Number(seq);
    seq.ExpectEnd();
    key.isPrivate = false;
}

// PrivateKeyInfo ::= SEQUENCE { version 0 (1 with a public key attached),
//   AlgorithmIdentifier, OCTET STRING RSAPrivateKey, [0] attributes, [1] public key }
void ReadPkcs8(const XBlob& der, KeyNumbers& key)
{
    XDerReader top(der);
    XDerReader seq = top.Enter(XDer::kSequence);
    top.ExpectEnd();
    if (seq.ReadSmall() > 1)
        DerCorrupted();
    ReadAlgorithm(seq);
    const XBlob inner = seq.Read(XDer::kOctetString);
    // Optional attributes [0] and public key [1], context-specific.
    if (!seq.AtEnd() && seq.PeekTag() == 0xa0)
        seq.Read(0xa0);
    if (!seq.AtEnd() && (seq.PeekTag() == 0x81 || seq.PeekTag() == 0xa1))
        seq.Read(seq.PeekTag());
    seq.ExpectEnd();
    ReadPkcs1Private(inner, key);
}

// SubjectPublicKeyInfo ::= SEQUENCE { AlgorithmIdentifier, BIT STRING RSAPublicKey }
void ReadSpki(const XBlob& der, KeyNumbers& key)
{
    XDerReader top(der);
    XDerReader seq = top.Enter(XDer::kSequence);
    top.ExpectEnd();
    ReadAlgorithm(seq);
    const XBlob inner = seq.ReadBitString();
    seq.ExpectEnd();
    ReadPkcs1Public(inner, key);
}

// Which structure a DER buffer holds, from its first elements.
Shape Recognize(const XBlob& der)
{
    XDerReader top(der);
    XDerReader seq = top.Enter(XDer::kSequence);
    const uint8_t first = seq.PeekTag();
    if (first == XDer::kSequence) {
        // AlgorithmIdentifier, then the key as a BIT STRING; an encrypted
        // PKCS #8 file has its encryption scheme and an OCTET STRING instead.
        seq.Enter(XDer::kSequence);
        if (seq.PeekTag() != XDer::kBitString)
            DerCorrupted();
        return Shape::kSpki;
    }
    if (first != XDer::kInteger)
        DerCorrupted();
    const XBlob lead = seq.ReadUnsigned();
    if (seq.PeekTag() == XDer::kSequence)
        return Shape::kPkcs8;
    // Other keys in their own files: an EC private key (version 1, then the
    // key as an OCTET STRING), a DSA private key (version 0 and five numbers).
    if (seq.PeekTag() == XDer::kOctetString && lead.Length() == 1 && lead.At(0) == 1)
        throw XCryptoAlarm(XMessage::kUnsupportedAlgorithm, kSource);
    if (lead.Length() == 1 && lead.At(0) == 0) {
        XDerReader rest = seq;
        int numbers = 0;
        while (!rest.AtEnd() && rest.PeekTag() == XDer::kInteger && numbers < 6) {
            rest.Read(XDer::kInteger);
            ++numbers;
        }
        if (numbers == 5 && rest.AtEnd())
            throw XCryptoAlarm(XMessage::kUnsupportedAlgorithm, kSource);
    }
    // version 0, n, e, d, ... or n, e: a one-byte first number is a
    // version (a one-byte n makes no key either way).
    return lead.Length() == 1 ? Shape::kPkcs1Private : Shape::kPkcs1Public;
}

bool Odd(const XBigInt& x)
{
    return !x.IsEven();
}

// The checks every key passes before it replaces the loaded one.
void CheckNumbers(const KeyNumbers& k)
{
    const uint64_t bits = k.n.BitLength();
    if (bits < 512 || bits > 16384 || !Odd(k.n))
        DerCorrupted();
    if (!Odd(k.e) || k.e.BitLength() < 2 || k.e >= k.n)
        DerCorrupted();
    if (!k.isPrivate)
        return;
    if (k.p.BitLength() < 2 || k.q.BitLength() < 2 || k.d.IsZero() || k.d >= k.n)
        DerCorrupted();
    XBigInt product(k.p);
    product.Multiply(k.q);
    if (product != k.n)
        DerCorrupted();
    if (k.qInv >= k.p)
        DerCorrupted();
    XBigInt check(k.q);
    check.MulMod(k.qInv, k.p);
    if (!check.IsOne())
        DerCorrupted();
    for (const auto& half : {std::make_pair(&k.p, &k.dP), std::make_pair(&k.q, &k.dQ)}) {
        XBigInt minusOne(*half.first);
        minusOne.SubtractSmall(1);
        XBigInt reduced(k.d);
        reduced.Modulo(minusOne);
        if (reduced != *half.second)
            DerCorrupted();
        XBigInt one(k.e);
        one.MulMod(*half.second, minusOne);
        if (!one.IsOne())
            DerCorrupted();
    }
}

void Load(XRsa& rsa, const KeyNumbers& k)
{
    CheckNumbers(k);
    if (k.isPrivate)
        rsa.LoadKeyPair(k.n, k.e, k.d, k.p, k.q, k.dP, k.dQ, k.qInv);
    else
        rsa.LoadPublicKey(k.n, k.e);
}

void ReadShape(Shape shape, const XBlob& der, KeyNumbers& key)
{
    switch (shape) {
    case Shape::kPkcs1Private:
        ReadPkcs1Private(der, key);
        break;
    case Shape::kPkcs8:
        ReadPkcs8(der, key);
        break;
    case Shape::kPkcs1Public:
        ReadPkcs1Public(der, key);
        break;
    case Shape::kSpki:
        ReadSpki(der, key);
        break;
    case Shape::kAny:
        ReadShape(Recognize(der), der, key);
        break;
    }
}

XBlob Pkcs1PrivateDer(const XRsa& rsa)
{
    rsa.RequireHalf(XRsa::kHasPrivateKey);
    rsa.RequireHalf(XRsa::kHasPublicKey);
    XBlob parts[9];
    parts[0] = DerSmall(0);
    const XBigInt* numbers[8] = {&rsa.N(), &rsa.E(), &rsa.D(), &rsa.P(), &rsa.Q(), &rsa.DP(), &rsa.DQ(), &rsa.QInv()};
    for (int i = 0; i < 8; ++i)
        parts[i + 1] = DerUnsigned(numbers[i]->ToBytes(0));
    return DerSequence({&parts[0], &parts[1], &parts[2], &parts[3], &parts[4], &parts[5], &parts[6], &parts[7],
                        &parts[8]});
}

XBlob RsaAlgorithm()
{
    XBlob oid;
    oid.AppendBytes(kRsaEncryption, sizeof kRsaEncryption);
    const XBlob oidElement = DerElement(XDer::kObjectId, oid);
    const XBlob null = DerElement(XDer::kNull, XBlob());
    return DerSequence({&oidElement, &null});
}

} // namespace

void ImportRsaKeyDer(XRsa& rsa, const XBlob& der)
{
    KeyNumbers key;
    ReadShape(Shape::kAny, der, key);
    Load(rsa, key);
}

void ImportRsaKeyPem(XRsa& rsa, const std::string& text)
{
    std::string label;
    XBlob der;
    PemDecode(text, label, der);
    Shape shape;
    if (label == "RSA PRIVATE KEY")
        shape = Shape::kPkcs1Private;
    else if (label == "PRIVATE KEY")
        shape = Shape::kPkcs8;
    else if (label == "RSA PUBLIC KEY")
        shape = Shape::kPkcs1Public;
    else if (label == "PUBLIC KEY")
        shape = Shape::kSpki;
    else if (label == "EC PRIVATE KEY" || label == "DSA PRIVATE KEY" || label == "OPENSSH PRIVATE KEY")
        throw XCryptoAlarm(XMessage::kUnsupportedAlgorithm, kSource);
    else
        DerCorrupted(); // "ENCRYPTED PRIVATE KEY", certificates, anything else
    KeyNumbers key;
    ReadShape(shape, der, key);
    Load(rsa, key);
}

XBlob ExportRsaPrivateKeyDer(const XRsa& rsa)
{
    const XBlob version = DerSmall(0);
    const XBlob algorithm = RsaAlgorithm();
    const XBlob octets = DerElement(XDer::kOctetString, Pkcs1PrivateDer(rsa));
    return DerSequence({&version, &algorithm, &octets});
}

XBlob ExportRsaPublicKeyDer(const XRsa& rsa)
{
    rsa.RequireHalf(XRsa::kHasPublicKey);
    const XBlob n = DerUnsigned(rsa.N().ToBytes(0));
    const XBlob e = DerUnsigned(rsa.E().ToBytes(0));
    const XBlob inner = DerSequence({&n, &e});
    const XBlob algorithm = RsaAlgorithm();
    const XBlob bits = DerBitString(inner);
    return DerSequence({&algorithm, &bits});
}

std::string ExportRsaPrivateKeyPem(const XRsa& rsa)
{
    return PemEncode("PRIVATE KEY", ExportRsaPrivateKeyDer(rsa));
}

std::string ExportRsaPublicKeyPem(const XRsa& rsa)
{
    return PemEncode("PUBLIC KEY", ExportRsaPublicKeyDer(rsa));
}

