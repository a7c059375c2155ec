#include "pgp/message.h"

#include "cipher/aead.h"
#include "cipher/ciphers.h"
#include "core/alarm.h"
#include "core/wipe.h"
#include "hash/digest.h"
#include "hash/argon2.h"
#include "hash/hmac.h"
#include "hash/s2k.h"
#include "pgp/cfb.h"
#include "pgp/compression.h"

#include <cstring>
#include <ctime>
#include <exception>
#include <new>
#include <vector>

namespace {

const char kSource[] = "PGP";

[[noreturn]] void Corrupted()
{
    throw XCryptoAlarm(XMessage::kDataCorrupted, kSource);
}

uint32_t CalendarSeconds()
{
    return uint32_t(std::time(nullptr));
}

uint32_t ReadBigEndian(const uint8_t* p, uint32_t n)
{
    uint32_t v = 0;
    for (uint32_t i = 0; i < n; ++i)
        v = v << 8 | p[i];
    return v;
}

void AppendBigEndian32(XBlob& out, uint32_t v)
{
    const uint8_t bytes[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
    out.AppendBytes(bytes, 4);
}

// The bytes a new-format length field occupies, judged by its first byte.
uint32_t EncodedLengthSize(uint8_t first)
{
    if (first < 192 || (first >= 224 && first < 255))
        return 1;
    return first < 224 ? 2 : 5;
}

// The shortest new-format length field for n.
uint32_t NewLengthSize(uint32_t n)
{
    return n < 192 ? 1 : n < 8384 ? 2 : 5;
}

// A packet's body inside a message: a view of the message's bytes, or, for a
// partial-length packet, its chunks joined into `joined`.
struct Body {
    const uint8_t* data = nullptr;
    uint32_t length = 0;
    uint32_t end = 0; // position in the message after the packet
};

// Reads the body of the packet whose header starts at `pos`.  A definite
// body is cut at the end of the data; an indeterminate one runs to the end.
// The chunks of a partial-length body are counted first and then copied
// into `joined`, sized exactly, so no declared length can make it larger
// than the data; a chunk that runs past the end, or a missing final length,
// is "Data is corrupted".
Body ReadBody(const uint8_t* data, uint32_t size, uint32_t pos, const XPgpPacketHeader& header, XBlob& joined)
{
    Body body;
    const uint32_t start = pos + header.headerLength; // ReadPacketHeader kept the header inside the data
    if (!header.partial) {
        const uint32_t left = size - start;
        body.data = data + start;
        body.length = header.indeterminate || header.bodyLength > left ? left : header.bodyLength;
        body.end = start + body.length;
        return body;
    }

    // First pass: check the chunk structure and add up the lengths.
    uint64_t total = 0;
    uint32_t p = start;
    uint32_t chunk = header.bodyLength;
    bool more = true;
    for (;;) {
        if (chunk > size - p)
            Corrupted();
        total += chunk;
        p += chunk;
        if (!more)
            break;
        chunk = XPgpMessage::DecodeLength(data + p, size - p, more);
        p += EncodedLengthSize(data[p]);
    }
    body.end = p;

    // Second pass: copy the chunks.
    joined.Clear();
    if (total > joined.Capacity())
        joined.Grow(uint32_t(total) - joined.Capacity());
    p = start;
    chunk = header.bodyLength;
    more = true;
    for (;;) {
        joined.AppendBytes(data + p, chunk);
        p += chunk;
        if (!more)
            break;
        chunk = XPgpMessage::DecodeLength(data + p, size - p, more);
        p += EncodedLengthSize(data[p]);
    }
    body.data = joined.Data();
    body.length = joined.Length();
    return body;
}

// Wipes and empties a buffer that held secrets or plaintext.
void Wipe(XBlob& b)
{
    if (b.Data())
        SecureWipe(b.Data(), b.Capacity());
    b.Clear();
}

} // namespace

XPgpSources SystemPgpSources()
{
    return XPgpSources{CalendarSeconds, SystemRandomSources()};
}

XPgpMessage::XPgpMessage(const XPgpSources& sources) : sources_(sources) {}

XPgpMessage::~XPgpMessage()
{
    Wipe(key_);
    Wipe(password_);
}

void XPgpMessage::SetAlgorithms(uint8_t hash, uint8_t cipher)
{
    hash_ = hash;
    cipher_ = cipher;
}

void XPgpMessage::SetS2K(uint8_t mode, uint8_t count)
{
    s2kMode_ = mode;
    count_ = count;
}

void XPgpMessage::SetPassword(const XBlob& password)
{
    if (&password == &password_)
        return;
    Wipe(password_);
    password_.Assign(password);
}

// --- algorithm tables --------------------------------------------------------

namespace {

const XCipherAlgorithm& RequireCipher(uint8_t id)
{
    const XCipherAlgorithm* row = FindCipherAlgorithm(id);
    if (!row)
        throw XCryptoAlarm(XMessage::kUnsupportedAlgorithm, kSource);
    return *row;
}

} // namespace

std::unique_ptr<XBlockCipher> XPgpMessage::CipherById(uint8_t id)
{
    return RequireCipher(id).make();
}

uint32_t XPgpMessage::KeySizeById(uint8_t id)
{
    return RequireCipher(id).keySize;
}

uint32_t XPgpMessage::BlockSizeById(uint8_t id)
{
    return RequireCipher(id).blockSize;
}

// --- packet headers ----------------------------------------------------------

void XPgpMessage::EncodeLength(uint32_t n, XBlob& out)
{
    if (n < 192) {
        out.AppendByte(uint8_t(n));
    } else if (n < 8384) {
        const uint8_t bytes[2] = {uint8_t(((n - 192) >> 8) + 192), uint8_t(n - 192)};
        out.AppendBytes(bytes, 2);
    } else {
        out.AppendByte(0xFF);
        AppendBigEndian32(out, n);
    }
}

uint32_t XPgpMessage::DecodeLength(const uint8_t* data, uint32_t available, bool& partial)
{
    if (available == 0 || EncodedLengthSize(data[0]) > available)
        Corrupted();
    const uint8_t first = data[0];
    partial = false;
    if (first < 192)
        return first;
    if (first < 224)
        return (uint32_t(first) - 192) * 256 + data[1] + 192;
    if (first == 255)
        return ReadBigEndian(data + 1, 4);
    partial = true;
    return uint32_t(1) << (first & 0x1F);
}

uint32_t XPgpMessage::LengthFieldSize(uint32_t bodyLength, bool partial, bool oldFormat)
{
    if (partial)
        return 1;
    if (oldFormat)
        return bodyLength <= 0xFF ? 1 : bodyLength <= 0xFFFF ? 2 : 4;
    return NewLengthSize(bodyLength);
}

XPgpPacketHeader XPgpMessage::ReadPacketHeader(const uint8_t* data, uint32_t available)
{
    if (available == 0 || data[0] < 0x80)
        Corrupted();
    const uint8_t first = data[0];
    XPgpPacketHeader h;
    if (first & 0x40) {
        h.tag = first & 0x3F;
        h.bodyLength = DecodeLength(data + 1, available - 1, h.partial);
        h.headerLength = 1 + LengthFieldSize(h.bodyLength, h.partial, false);
        return h;
    }
    h.oldFormat = true;
    h.tag = (first & 0x3C) >> 2;
    const uint32_t type = first & 3;
    if (type == 3) {
        h.indeterminate = true;
        h.headerLength = 1;
        return h;
    }
    const uint32_t fieldSize = type == 2 ? 4 : type + 1;
    if (available < 1 + fieldSize)
        Corrupted();
    h.bodyLength = ReadBigEndian(data + 1, fieldSize);
    h.headerLength = 1 + fieldSize;
    return h;
}

// --- settings and keys ---------------------------------------------------------

namespace {

[[noreturn]] void Unsupported()
{
    throw XCryptoAlarm(XMessage::kUnsupportedAlgorithm, kSource);
}

[[noreturn]] void WrongKey()
{
    throw XCryptoAlarm(XMessage::kInvalidKey, kSource);
}

constexpr uint32_t kTagSize = XAead::kTagSize;
constexpr uint32_t kMdcSize = 22; // tag 19 header and a SHA-1 digest
constexpr uint32_t kDataSaltSize = 32;
constexpr uint32_t kMaxDepth = 8; // compressed packets inside compressed packets

bool KnownAead(uint8_t id)
{
    return id >= XPgpMessage::kAeadEax && id <= XPgpMessage::kAeadGcm;
}

// The nonce OpenPGP uses with each AEAD mode.
uint32_t NonceSize(uint8_t aead)
{
    return aead == XPgpMessage::kAeadEax ? 16 : aead == XPgpMessage::kAeadOcb ? 15 : 12;
}

void PutBigEndian64(uint8_t* p, uint64_t v)
{
    for (int i = 7; i >= 0; --i, v >>= 8)
        p[i] = uint8_t(v);
}

std::unique_ptr<XBlockCipher> KeyedEngine(uint8_t cipher, const XBlob& key)
{
    std::unique_ptr<XBlockCipher> engine = XPgpMessage::CipherById(cipher);
    engine->MakeKey(key, key.Length());
    return engine;
}

std::unique_ptr<XAead> KeyedAead(uint8_t aead, uint8_t cipher, const XBlob& key)
{
    return XAead::Make(XAeadMode(aead), KeyedEngine(cipher, key));
}

const XHashAlgorithm& Sha256()
{
    return *FindHashAlgorithm(8);
}

XBlob BlobOf(const uint8_t* data, uint32_t n)
{
    XBlob b(n);
    b.AppendBytes(data, n);
    return b;
}

// The bytes of a string-to-key specifier.
XBlob EncodeS2K(const XPgpMessage::S2KParams& s)
{
    XBlob out(24);
    out.AppendByte(s.mode);
    if (s.mode == XPgpMessage::kS2KArgon2) {
        out.Append(s.salt);
        const uint8_t params[3] = {s.passes, s.lanes, s.memoryExponent};
        out.AppendBytes(params, 3);
        return out;
    }
    out.AppendByte(s.hash);
    if (s.mode != XPgpMessage::kS2KSimple)
        out.Append(s.salt);
    if (s.mode == XPgpMessage::kS2KIterated)
        out.AppendByte(s.count);
    return out;
}

// Parses a specifier at p (n bytes there); returns its length, or 0 for a
// type whose length is unknown.  "Data is corrupted" when it is cut off.
uint32_t DecodeS2K(const uint8_t* p, uint32_t n, XPgpMessage::S2KParams& s)
{
    if (n < 1)
        Corrupted();
    s.mode = p[0];
    uint32_t size = 0;
    switch (s.mode) {
    case XPgpMessage::kS2KSimple: size = 2; break;
    case XPgpMessage::kS2KSalted: size = 10; break;
    case XPgpMessage::kS2KIterated: size = 11; break;
    case XPgpMessage::kS2KArgon2: size = 20; break;
    default: return 0;
    }
    if (n < size)
        Corrupted();
    s.salt.Clear();
    if (s.mode == XPgpMessage::kS2KArgon2) {
        s.salt.AppendBytes(p + 1, XPgpMessage::kArgon2SaltSize);
        s.passes = p[17];
        s.lanes = p[18];
        s.memoryExponent = p[19];
        return size;
    }
    s.hash = p[1];
    if (s.mode != XPgpMessage::kS2KSimple)
        s.salt.AppendBytes(p + 2, XPgpMessage::kSaltSize);
    if (s.mode == XPgpMessage::kS2KIterated)
        s.count = p[10];
    return size;
}

// Refuses a specifier this class cannot derive a key with: the type, then
// the hash (the digests' own alarm) or Argon2's parameters.
void CheckS2K(const XPgpMessage::S2KParams& s)
{
    switch (s.mode) {
    case XPgpMessage::kS2KSimple:
    case XPgpMessage::kS2KSalted:
    case XPgpMessage::kS2KIterated: HashSizeById(s.hash); return;
    case XPgpMessage::kS2KArgon2:
        if (s.memoryExponent > XPgpMessage::kMaxArgon2MemoryExponent)
            Unsupported();
        // RFC 9106: at least one pass and one lane, 8 KiB of memory per lane.
        if (s.passes == 0 || s.lanes == 0 || (uint64_t(1) << s.memoryExponent) < 8u * s.lanes)
            Corrupted();
        return;
    default: Unsupported();
    }
}

} // namespace

XBlob XPgpMessage::DeriveS2K(const S2KParams& s, uint32_t length) const
{
    switch (s.mode) {
    case kS2KSimple: return S2KSimple(s.hash, length, password_);
    case kS2KSalted: return S2KSalted(s.hash, length, password_, s.salt);
    case kS2KIterated: return S2KIterated(s.hash, length, password_, s.salt, s.count);
    default:
        return Argon2(XArgon2Type::kId, password_, s.salt, s.passes, s.lanes, uint32_t(1) << s.memoryExponent,
                      length);
    }
}

void XPgpMessage::CheckWriteSettings() const
{
    KeySizeById(cipher_);
    if (s2kMode_ != kS2KSimple && s2kMode_ != kS2KSalted && s2kMode_ != kS2KIterated && s2kMode_ != kS2KArgon2)
        Unsupported();
    if (s2kMode_ != kS2KArgon2)
        HashSizeById(hash_);
    if (format_ > kFormatAeadLibre || compression_ > kCompressZlib)
        Unsupported();
    if (format_ >= kFormatAead) {
        // AEAD takes 128-bit blocks only; LibrePGP has no GCM; the
        // unsalted type is not for new session packets.
        if (BlockSizeById(cipher_) != 16 || !KnownAead(aead_) || chunkSize_ > kMaxChunkSize ||
            (format_ == kFormatAeadLibre && aead_ == kAeadGcm) || s2kMode_ == kS2KSimple)
            Unsupported();
    }
    if (s2kMode_ == kS2KArgon2 && format_ != kFormatAead)
        Unsupported();
}

// --- writing -------------------------------------------------------------------

namespace {

// The literal packet of n bytes of data: tag, length, format, name length,
// date, data.
uint64_t LiteralBodySize(uint32_t n)
{
    return uint64_t(n) + 6;
}

uint64_t PacketSize(uint64_t body)
{
    return 1 + NewLengthSize(uint32_t(body)) + body;
}

void AppendLiteral(XBlob& out, const XBlob& plaintext, uint32_t date)
{
    out.AppendByte(0xC0 | XPgpMessage::kTagLiteralData);
    XPgpMessage::EncodeLength(uint32_t(LiteralBodySize(plaintext.Length())), out);
    out.AppendByte('b');
    out.AppendByte(0); // no file name
    AppendBigEndian32(out, date);
    out.Append(plaintext);
}

// Refuses totals that do not fit a blob.
uint32_t Fit(uint64_t n)
{
    if (n > UINT32_MAX - 64)
        throw std::bad_alloc();
    return uint32_t(n);
}

// What the chunks of an AEAD data packet share.  Chunk i is sealed with the
// nonce `nonce` with i XORed into its last eight bytes, and the associated
// data `header` (LibrePGP: followed by i); the final tag, over no data, with
// the nonce of the index after the last chunk and the associated data
// followed by the total number of plaintext bytes.
struct AeadFrame {
    uint8_t header[5];
    bool indexInAd;
    uint8_t nonce[16];
    uint32_t nonceSize;
    uint64_t chunkBytes;

    ~AeadFrame() { SecureWipe(nonce, sizeof nonce); }

    // The nonce and associated data of chunk `index`; `total` is appended
    // for the final tag.  Returns the associated data's length.
    uint32_t Chunk(uint64_t index, const uint64_t* total, uint8_t* chunkNonce, uint8_t* ad) const
    {
        std::memcpy(chunkNonce, nonce, nonceSize);
        uint8_t i[8];
        PutBigEndian64(i, index);
        for (int k = 0; k < 8; ++k)
            chunkNonce[nonceSize - 8 + k] ^= i[k];
        std::memcpy(ad, header, 5);
        uint32_t n = 5;
        if (indexInAd) {
            std::memcpy(ad + n, i, 8);
            n += 8;
        }
        if (total) {
            PutBigEndian64(ad + n, *total);
            n += 8;
        }
        return n;
    }

    // Chunks and their tags for n bytes of plaintext, then the final tag.
    uint64_t SealedSize(uint64_t n) const
    {
        const uint64_t chunks = n == 0 ? 1 : (n + chunkBytes - 1) / chunkBytes;
        return n + kTagSize * (chunks + 1);
    }
};

// Seals, in place, n bytes of plaintext laid out as the sealed chunks will
// be (chunk i at i times chunk size plus tag), writing each chunk's tag
// behind it and the final tag at the end (SealedSize(n) bytes in all); an
// empty plaintext is one empty chunk.
void SealChunks(const XAead& aead, const AeadFrame& f, uint8_t* out, uint64_t n)
{
    uint8_t nonce[16];
    uint8_t ad[21];
    uint64_t index = 0;
    uint64_t done = 0;
    do {
        const uint64_t length = n - done < f.chunkBytes ? n - done : f.chunkBytes;
        const uint32_t adLength = f.Chunk(index, nullptr, nonce, ad);
        aead.Seal(nonce, f.nonceSize, ad, adLength, out, out, size_t(length), out + length);
        out += length + kTagSize;
        done += length;
        ++index;
    } while (done < n);
    const uint32_t adLength = f.Chunk(index, &n, nonce, ad);
    aead.Seal(nonce, f.nonceSize, ad, adLength, out, out, 0, out);
}

enum class Opened { kOk, kFirstChunkFailed, kFailed };

// Opens the chunks and final tag at in[0..length) into `plain`; on any
// failure `plain` is wiped and emptied.  A shape no sealing gives is
// "Data is corrupted".
Opened OpenChunks(const XAead& aead, const AeadFrame& f, const uint8_t* in, uint32_t length, XBlob& plain)
{
    if (length < kTagSize)
        Corrupted();
    const uint64_t region = length - kTagSize;
    const uint64_t stride = f.chunkBytes + kTagSize;
    const uint64_t chunks = region == 0 ? 0 : (region + stride - 1) / stride;
    if (chunks && region - (chunks - 1) * stride < kTagSize)
        Corrupted();
    const uint64_t total = region - kTagSize * chunks;
    plain.Clear();
    if (total > plain.Capacity())
        plain.Grow(uint32_t(total - plain.Capacity()));
    plain.SetLength(uint32_t(total));

    uint8_t nonce[16];
    uint8_t ad[21];
    uint8_t* out = plain.Data();
    uint64_t at = 0;
    for (uint64_t index = 0; index < chunks; ++index) {
        const uint64_t sealed = region - at < stride ? region - at : stride;
        const uint64_t n = sealed - kTagSize;
        const uint32_t adLength = f.Chunk(index, nullptr, nonce, ad);
        if (!aead.Open(nonce, f.nonceSize, ad, adLength, in + at, out, size_t(n), in + at + n)) {
            Wipe(plain);
            return index == 0 ? Opened::kFirstChunkFailed : Opened::kFailed;
        }
        at += sealed;
        out += n;
    }
    uint8_t none[1] = {0};
    const uint32_t adLength = f.Chunk(chunks, &total, nonce, ad);
    if (!aead.Open(nonce, f.nonceSize, ad, adLength, none, none, 0, in + region)) {
        Wipe(plain);
        return chunks == 0 ? Opened::kFirstChunkFailed : Opened::kFailed;
    }
    return Opened::kOk;
}

// The message key and nonce of a version-2 integrity-protected packet:
// HKDF-SHA256 of the session key, salted with the packet's salt, over the
// packet's first five bytes (as the associated data has them).
XBlob MessageKey(const XBlob& sessionKey, const uint8_t* salt, AeadFrame& f, uint32_t keySize)
{
    const XBlob info = BlobOf(f.header, 5);
    XBlob derived = Hkdf(Sha256(), sessionKey, BlobOf(salt, kDataSaltSize), info, keySize + f.nonceSize - 8);
    std::memset(f.nonce, 0, sizeof f.nonce);
    std::memcpy(f.nonce, derived.Data() + keySize, f.nonceSize - 8);
    derived.SetLength(keySize);
    return derived;
}

} // namespace

XBlob XPgpMessage::InnerPackets(const XBlob& plaintext) const
{
    if (compression_ == kCompressNone)
        return XBlob(0);
    XBlob literal(Fit(PacketSize(LiteralBodySize(plaintext.Length()))));
    AppendLiteral(literal, plaintext, sources_.clock());
    XBlob stream = Compress(XCompression(compression_), literal.Data(), literal.Length());
    const uint32_t body = Fit(uint64_t(stream.Length()) + 1);
    XBlob packet(Fit(PacketSize(body)));
    packet.AppendByte(0xC0 | kTagCompressed);
    EncodeLength(body, packet);
    packet.AppendByte(compression_);
    packet.Append(stream);
    return packet;
}

XBlob XPgpMessage::Encrypt(const XBlob& plaintext)
{
    // A message under the empty password protects nothing: anyone who tries
    // the empty password reads it.  Refused after the checks of the settings
    // and before any work; Decrypt still reads such messages.
    CheckWriteSettings();
    if (password_.Length() == 0)
        WrongKey();
    XBlob salt = RandomBlob(s2kMode_ == kS2KArgon2 ? kArgon2SaltSize : kSaltSize, sources_.random);
    salt_ = std::move(salt);

    // The literal packet goes straight into the message unless compressed.
    const XBlob compressed = InnerPackets(plaintext);
    const uint32_t date = compression_ == kCompressNone ? sources_.clock() : 0;
    const uint64_t innerSize =
        compression_ == kCompressNone ? PacketSize(LiteralBodySize(plaintext.Length())) : compressed.Length();
    auto appendInner = [&](XBlob& out) {
        if (compression_ == kCompressNone)
            AppendLiteral(out, plaintext, date);
        else
            out.Append(compressed);
    };

    S2KParams params;
    params.mode = s2kMode_;
    params.hash = hash_;
    params.count = count_;
    params.salt = salt_;
    const uint32_t keySize = KeySizeById(cipher_);
    XBlob kek = DeriveS2K(params, keySize);

    if (format_ == kFormatClassic || format_ == kFormatIntegrity) {
        Wipe(key_);
        key_ = std::move(kek);
        const bool mdc = format_ == kFormatIntegrity;
        const uint32_t bs = BlockSizeById(cipher_);
        const XBlob s2k = EncodeS2K(params);
        const uint32_t sessionBody = 2 + s2k.Length();
        const uint64_t dataBody = (mdc ? 1 : 0) + uint64_t(bs) + 2 + innerSize + (mdc ? kMdcSize : 0);
        XBlob message(Fit(2 + sessionBody + PacketSize(Fit(dataBody))));

        message.AppendByte(0xC0 | kTagSessionKey);
        message.AppendByte(uint8_t(sessionBody));
        message.AppendByte(4);
        message.AppendByte(cipher_);
        message.Append(s2k);

        message.AppendByte(0xC0 | (mdc ? kTagIntegrityData : kTagEncryptedData));
        EncodeLength(uint32_t(dataBody), message);
        if (mdc)
            message.AppendByte(1);
        const uint32_t prefixAt = message.Length();
        XBlob prefix = RandomBlob(bs, sources_.random);
        prefix.AppendByte(prefix.At(bs - 2));
        prefix.AppendByte(prefix.At(bs - 1));
        message.Append(prefix);
        Wipe(prefix);
        const uint32_t innerAt = message.Length();
        appendInner(message);

        XPgpCfb cfb(KeyedEngine(cipher_, key_));
        uint8_t* bytes = message.Data();
        if (mdc) {
            // The modification-detection packet: SHA-1 of the prefix, the
            // packets and its own two header bytes.
            message.AppendByte(0xC0 | kTagModificationDetection);
            message.AppendByte(20);
            std::unique_ptr<XDigest> sha1 = NewDigestById(2);
            sha1->Update(message.Data() + prefixAt, message.Length() - prefixAt);
            uint8_t digest[20];
            sha1->FinishInto(digest);
            message.AppendBytes(digest, 20);
            bytes = message.Data();
            cfb.Encrypt(bytes + prefixAt, bytes + prefixAt, message.Length() - prefixAt);
        } else {
            cfb.Encrypt(bytes + prefixAt, bytes + prefixAt, bs + 2);
            cfb.Resync(bytes + prefixAt);
            cfb.Encrypt(bytes + innerAt, bytes + innerAt, message.Length() - innerAt);
        }
        return message;
    }

    // Formats 2 and 3: a random session key sealed in the session packet.
    const bool v6 = format_ == kFormatAead;
    const uint8_t version = v6 ? 6 : 5;
    XBlob sessionKey = RandomBlob(keySize, sources_.random);
    const uint32_t nonceSize = NonceSize(aead_);
    const XBlob iv = RandomBlob(nonceSize, sources_.random);
    const uint8_t sessionAd[4] = {0xC0 | kTagSessionKey, version, cipher_, aead_};
    XBlob sealingKey = v6 ? Hkdf(Sha256(), kek, XBlob(0), BlobOf(sessionAd, 4), keySize) : XBlob(kek);
    Wipe(kek);

    const XBlob s2k = EncodeS2K(params);
    const uint32_t sessionBody = (v6 ? 5 : 3) + s2k.Length() + nonceSize + keySize + kTagSize;

    AeadFrame frame{};
    frame.header[0] = uint8_t(0xC0 | (v6 ? kTagIntegrityData : kTagAeadData));
    frame.header[1] = v6 ? 2 : 1;
    frame.header[2] = cipher_;
    frame.header[3] = aead_;
    frame.header[4] = chunkSize_;
    frame.indexInAd = !v6;
    frame.nonceSize = nonceSize;
    frame.chunkBytes = uint64_t(1) << (chunkSize_ + 6);
    XBlob dataSalt(0);
    XBlob messageKey(0);
    if (v6) {
        dataSalt = RandomBlob(kDataSaltSize, sources_.random);
        messageKey = MessageKey(sessionKey, dataSalt.Data(), frame, keySize);
    } else {
        const XBlob dataIv = RandomBlob(nonceSize, sources_.random);
        std::memcpy(frame.nonce, dataIv.Data(), nonceSize);
        messageKey = XBlob(sessionKey);
    }
    const uint64_t dataBody = 4 + (v6 ? kDataSaltSize : nonceSize) + frame.SealedSize(innerSize);
    XBlob message(Fit(2 + sessionBody + PacketSize(Fit(dataBody))));

    message.AppendByte(0xC0 | kTagSessionKey);
    EncodeLength(sessionBody, message);
    message.AppendByte(version);
    if (v6)
        message.AppendByte(uint8_t(3 + s2k.Length() + nonceSize));
    message.AppendByte(cipher_);
    message.AppendByte(aead_);
    if (v6)
        message.AppendByte(uint8_t(s2k.Length()));
    message.Append(s2k);
    message.Append(iv);
    const uint32_t eskAt = message.Length();
    message.SetLength(eskAt + keySize + kTagSize);
    KeyedAead(aead_, cipher_, sealingKey)
        ->Seal(iv.Data(), nonceSize, sessionAd, 4, sessionKey.Data(), message.Data() + eskAt, keySize,
               message.Data() + eskAt + keySize);
    Wipe(sealingKey);

    message.AppendByte(frame.header[0]);
    EncodeLength(uint32_t(dataBody), message);
    message.AppendBytes(frame.header + 1, 4);
    if (v6)
        message.Append(dataSalt);
    else
        message.AppendBytes(frame.nonce, nonceSize);
    // The packets are built in the message where the chunks go, spread
    // apart to make room for each chunk's tag (from the last chunk back, so
    // nothing is overwritten before it has moved), and sealed in place: no
    // second buffer of the message's size.
    const uint32_t chunksAt = message.Length();
    appendInner(message);
    const uint64_t sealedSize = frame.SealedSize(innerSize);
    message.SetLength(chunksAt + uint32_t(sealedSize));
    uint8_t* chunks = message.Data() + chunksAt;
    const uint64_t count = innerSize == 0 ? 1 : (innerSize + frame.chunkBytes - 1) / frame.chunkBytes;
    for (uint64_t k = count - 1; k > 0; --k) {
        const uint64_t from = k * frame.chunkBytes;
        const uint64_t length = innerSize - from < frame.chunkBytes ? innerSize - from : frame.chunkBytes;
        std::memmove(chunks + from + k * kTagSize, chunks + from, size_t(length));
    }
    SealChunks(*KeyedAead(aead_, cipher_, messageKey), frame, chunks, innerSize);
    Wipe(messageKey);

    Wipe(key_);
    key_ = std::move(sessionKey);
    return message;
}

// --- reading ---------------------------------------------------------------------

struct XPgpMessage::SessionPacket {
    uint8_t version = 4; // 0: none in the message, the held parameters
    uint8_t cipher = 0;
    uint8_t aead = 0;
    S2KParams s2k;
    const uint8_t* iv = nullptr;
    const uint8_t* esk = nullptr; // version 4: optional; 5 and 6: the sealed key and its tag
    uint32_t eskLength = 0;
    uint32_t unknownS2K = 0; // a version-6 specifier of a type this class lacks
};

struct XPgpMessage::DataPacket {
    uint8_t tag = 0;
    uint8_t version = 0;
    bool strict = false; // tag 9: shortest length fields, as this class has always required
    // Tags 18 version 2 and 20: the packet's own algorithms.
    uint8_t cipher = 0;
    uint8_t aead = 0;
    uint8_t chunkSize = 0;
    uint8_t header[5] = {};
    const uint8_t* saltOrIv = nullptr;
    // The enciphered part: after the version byte and fields.
    const uint8_t* data = nullptr;
    uint32_t length = 0;

    // Tags 9 and 18 version 1: OpenPGP CFB behind a random prefix.
    bool Cfb() const { return tag == kTagEncryptedData || (tag == kTagIntegrityData && version == 1); }
};

struct XPgpMessage::ContentState {
    uint64_t budget;        // bytes decompression may still produce
    int compression = -1;   // the outermost compressed packet's algorithm
    bool strict = false;
};

namespace {

// A session packet's body; "Data is corrupted" for a shape no version has,
// "Unsupported algorithm" for what cannot be parsed without knowing it.
void ParseSession(const uint8_t* b, uint32_t n, XPgpMessage::SessionPacket& s)
{
    if (n < 1)
        Corrupted();
    s.version = b[0];
    uint32_t at = 1;
    if (s.version == 4) {
        if (n < 4)
            Corrupted();
        s.cipher = b[1];
        const uint32_t size = DecodeS2K(b + 2, n - 2, s.s2k);
        if (size == 0) {
            s.unknownS2K = 1; // refused with the algorithm checks
            return;
        }
        at = 2 + size;
        if (at < n) {
            s.esk = b + at;
            s.eskLength = n - at;
        }
        return;
    }
    if (s.version == 5) {
        if (n < 4)
            Corrupted();
        s.cipher = b[1];
        s.aead = b[2];
        at = 3;
    } else if (s.version == 6) {
        if (n < 6 || b[1] > n - 2)
            Corrupted();
        s.cipher = b[2];
        s.aead = b[3];
        const uint32_t s2kLength = b[4];
        if (5 + s2kLength > n)
            Corrupted();
        const uint32_t size = DecodeS2K(b + 5, s2kLength, s.s2k);
        if (size == 0) {
            s.unknownS2K = 1;
            return;
        }
        if (size != s2kLength)
            Corrupted();
        at = 5 + size;
        if (KnownAead(s.aead) && b[1] != 3 + s2kLength + NonceSize(s.aead))
            Corrupted();
    } else {
        Corrupted();
    }
    if (!KnownAead(s.aead))
        return; // refused with the algorithm checks
    if (s.version == 5) {
        const uint32_t size = DecodeS2K(b + at, n - at, s.s2k);
        if (size == 0) {
            s.unknownS2K = 1;
            return;
        }
        at += size;
    }
    const uint32_t nonce = NonceSize(s.aead);
    if (n - at < nonce + kTagSize + 1)
        Corrupted();
    s.iv = b + at;
    s.esk = b + at + nonce;
    s.eskLength = n - at - nonce;
}

// Refuses a session packet's algorithms: the cipher, the string-to-key
// type and hash, the AEAD mode, in that order.
void CheckSession(const XPgpMessage::SessionPacket& s)
{
    XPgpMessage::KeySizeById(s.cipher);
    if (s.unknownS2K)
        Unsupported();
    CheckS2K(s.s2k);
    if (s.version >= 5 && (!KnownAead(s.aead) || XPgpMessage::BlockSizeById(s.cipher) != 16))
        Unsupported();
}

} // namespace

XBlob XPgpMessage::OpenSession(const SessionPacket& s, const DataPacket& d, uint8_t& cipher) const
{
    const uint32_t kekSize = KeySizeById(s.cipher);
    XBlob kek = DeriveS2K(s.s2k, kekSize);
    if (s.version <= 4 && !s.esk) {
        // The string-to-key result is the key.  Tags 18 version 2 and 20
        // name their own cipher.
        cipher = d.Cfb() ? s.cipher : d.cipher;
        return kek;
    }
    XBlob key(0);
    if (s.version == 4) {
        // The algorithm byte and the session key, in CFB from a zero
        // register under the string-to-key result.
        XBlob plain(s.eskLength);
        plain.SetLength(s.eskLength);
        XPgpCfb(KeyedEngine(s.cipher, kek)).Decrypt(s.esk, plain.Data(), s.eskLength);
        const XCipherAlgorithm* row = FindCipherAlgorithm(plain.At(0));
        if (row && row->keySize == s.eskLength - 1) {
            cipher = row->pgpId;
            key.AppendBytes(plain.Data() + 1, s.eskLength - 1);
        }
        Wipe(plain);
    } else {
        const uint8_t ad[4] = {0xC0 | kTagSessionKey, s.version, s.cipher, s.aead};
        XBlob sealingKey = s.version == 6 ? Hkdf(Sha256(), kek, XBlob(0), BlobOf(ad, 4), kekSize) : XBlob(kek);
        const uint32_t n = s.eskLength - kTagSize;
        key.SetLength(n);
        const bool ok = KeyedAead(s.aead, s.cipher, sealingKey)
                            ->Open(s.iv, NonceSize(s.aead), ad, 4, s.esk, key.Data(), n, s.esk + n);
        Wipe(sealingKey);
        if (!ok)
            Wipe(key);
        // Version 6 leaves the cipher to the data packet; version 5 uses
        // its own for both.
        cipher = s.version == 6 ? d.cipher : s.cipher;
    }
    Wipe(kek);
    return key;
}

bool XPgpMessage::DecryptData(const DataPacket& d, uint8_t cipher, const XBlob& key, bool sealedKey,
                              XBlob& content) const
{
    const XCipherAlgorithm* row = FindCipherAlgorithm(cipher);
    if (!row || key.Length() != row->keySize)
        return false;
    content.Clear();

    if (d.Cfb()) {
        const uint32_t bs = row->blockSize;
        const bool mdc = d.tag == kTagIntegrityData;
        if (d.length < bs + 2 + (mdc ? kMdcSize : 0))
            Corrupted(); // the shape was checked for the session's cipher; a session key may name another
        XPgpCfb cfb(KeyedEngine(cipher, key));
        uint8_t prefix[XBlockCipher::kMaxBlockSize + 2];
        cfb.Decrypt(d.data, prefix, bs + 2);
        const bool keyOk = prefix[bs] == prefix[bs - 2] && prefix[bs + 1] == prefix[bs - 1];
        std::unique_ptr<XDigest> sha1 = mdc ? NewDigestById(2) : nullptr;
        if (sha1)
            sha1->Update(prefix, bs + 2);
        SecureWipe(prefix, sizeof prefix);
        if (!keyOk)
            return false;
        if (!mdc)
            cfb.Resync(d.data);
        const uint32_t n = d.length - bs - 2;
        content.SetLength(n);
        cfb.Decrypt(d.data + bs + 2, content.Data(), n);
        if (mdc) {
            const uint8_t* c = content.Data();
            sha1->Update(c, n - 20);
            uint8_t digest[20];
            sha1->FinishInto(digest);
            uint8_t diff = uint8_t(c[n - 22] ^ (0xC0 | kTagModificationDetection)) | uint8_t(c[n - 21] ^ 20);
            for (int i = 0; i < 20; ++i)
                diff |= uint8_t(digest[i] ^ c[n - 20 + i]);
            if (diff) {
                Wipe(content);
                Corrupted();
            }
            content.SetLength(n - kMdcSize);
        }
        return true;
    }

    AeadFrame frame{};
    std::memcpy(frame.header, d.header, 5);
    frame.indexInAd = d.tag == kTagAeadData;
    frame.nonceSize = NonceSize(d.aead);
    frame.chunkBytes = uint64_t(1) << (d.chunkSize + 6);
    XBlob messageKey(0);
    if (d.tag == kTagIntegrityData) {
        messageKey = MessageKey(key, d.saltOrIv, frame, row->keySize);
    } else {
        std::memcpy(frame.nonce, d.saltOrIv, frame.nonceSize);
        messageKey = XBlob(key);
    }
    const Opened result = OpenChunks(*KeyedAead(d.aead, d.cipher, messageKey), frame, d.data, d.length, content);
    Wipe(messageKey);
    if (result == Opened::kOk)
        return true;
    // A key that no session packet sealed may just be the wrong one.
    if (result == Opened::kFirstChunkFailed && !sealedKey)
        return false;
    Corrupted();
}

XBlob XPgpMessage::ReadContent(const uint8_t* data, uint32_t size, ContentState& state, uint32_t depth) const
{
    if (depth > kMaxDepth)
        Corrupted();
    XBlob plaintext(0);
    bool found = false;
    uint32_t pos = 0;
    while (pos < size || !found) {
        if (pos >= size)
            Corrupted(); // no literal packet
        const XPgpPacketHeader header = ReadPacketHeader(data + pos, size - pos);
        const bool definite = !header.partial && !header.indeterminate;
        if (definite && header.bodyLength > size - pos - header.headerLength)
            Corrupted();
        if (state.strict && definite &&
            header.headerLength != 1 + LengthFieldSize(header.bodyLength, false, header.oldFormat))
            Corrupted();
        XBlob joined(0);
        const Body body = ReadBody(data, size, pos, header, joined);
        pos = body.end;
        const uint8_t* b = body.data;

        switch (header.tag) {
        case kTagLiteralData: {
            if (found || body.length < 6)
                Corrupted();
            if (b[0] != 'b' && b[0] != 't' && b[0] != 'u' && b[0] != 'm')
                Corrupted();
            const uint32_t skip = 1 + 1 + b[1] + 4; // format, name length, name, date
            if (body.length < skip)
                Corrupted();
            plaintext = BlobOf(b + skip, body.length - skip);
            found = true;
            break;
        }
        case kTagCompressed: {
            if (found || body.length < 1)
                Corrupted();
            const uint8_t algorithm = b[0];
            if (algorithm > kCompressZlib)
                Unsupported();
            if (state.compression < 0)
                state.compression = algorithm;
            if (algorithm == kCompressNone) {
                plaintext = ReadContent(b + 1, body.length - 1, state, depth + 1);
            } else {
                XBlob inflated = Decompress(XCompression(algorithm), b + 1, body.length - 1, size_t(state.budget));
                state.budget -= inflated.Length();
                plaintext = ReadContent(inflated.Data(), inflated.Length(), state, depth + 1);
            }
            found = true;
            break;
        }
        case kTagSignature:
        case kTagOnePassSignature:
        case kTagMarker:
        case kTagPadding: break; // no public-key signature is checked here
        default: Corrupted();
        }
    }
    return plaintext;
}

XBlob XPgpMessage::Decrypt(const XBlob& message)
{
    const uint8_t* data = message.Data();
    const uint32_t size = message.Length();
    XBlob joined(0);
    std::vector<SessionPacket> sessions;
    uint32_t publicKeySessions = 0;
    uint32_t pos = 0;
    XPgpPacketHeader header;
    Body body;
    for (;;) {
        if (pos >= size)
            Corrupted();
        header = ReadPacketHeader(data + pos, size - pos);
        if (header.tag == kTagSessionKey && header.partial)
            Corrupted(); // only data packets may come in chunks
        // A definite length past the end of the message is damage, not a
        // shorter packet; only the classic data packet keeps the old
        // reading, which cuts it to what is there.
        if (header.tag != kTagEncryptedData && !header.partial && !header.indeterminate &&
            header.bodyLength > size - pos - header.headerLength)
            Corrupted();
        body = ReadBody(data, size, pos, header, joined);
        pos = body.end;
        if (header.tag == kTagSessionKey) {
            sessions.emplace_back();
            ParseSession(body.data, body.length, sessions.back());
        } else if (header.tag == kTagPublicKeySession) {
            ++publicKeySessions;
        } else if (header.tag == kTagMarker) {
            // ignored wherever it stands
        } else if (header.tag == kTagEncryptedData || header.tag == kTagIntegrityData || header.tag == kTagAeadData) {
            break;
        } else {
            Corrupted();
        }
    }

    // The data packet's own fields.
    DataPacket d;
    d.tag = header.tag;
    d.data = body.data;
    d.length = body.length;
    if (d.tag == kTagEncryptedData) {
        d.strict = true;
        const bool definite = !header.partial && !header.indeterminate;
        if (definite && header.headerLength != 1 + LengthFieldSize(header.bodyLength, false, header.oldFormat))
            d.length = 0; // reported as a body too short, after the algorithm checks
    } else {
        if (d.length < 1)
            Corrupted();
        d.version = d.data[0];
        const bool v2 = d.tag == kTagIntegrityData && d.version == 2;
        const bool libre = d.tag == kTagAeadData && d.version == 1;
        if (d.tag == kTagIntegrityData && d.version == 1) {
            ++d.data;
            --d.length;
        } else if (v2 || libre) {
            if (d.length < 4)
                Corrupted();
            d.header[0] = uint8_t(0xC0 | d.tag);
            std::memcpy(d.header + 1, d.data, 4);
            d.cipher = d.data[1];
            d.aead = d.data[2];
            d.chunkSize = d.data[3];
            KeySizeById(d.cipher);
            if (BlockSizeById(d.cipher) != 16 || !KnownAead(d.aead) || (libre && d.aead == kAeadGcm))
                Unsupported();
            if (d.chunkSize > (v2 ? kMaxChunkSize : 56))
                Corrupted();
            const uint32_t fields = 4 + (v2 ? kDataSaltSize : NonceSize(d.aead));
            if (d.length < fields + kTagSize)
                Corrupted();
            d.saltOrIv = d.data + 4;
            d.data += fields;
            d.length -= fields;
        } else {
            Corrupted();
        }
    }

    // The candidates: every session packet, or the held parameters.
    if (sessions.empty()) {
        if (publicKeySessions)
            Unsupported(); // no password opens a message sealed to public keys only
        SessionPacket held;
        held.version = 0;
        held.cipher = cipher_;
        held.s2k.mode = s2kMode_;
        held.s2k.hash = hash_;
        held.s2k.count = count_;
        held.s2k.salt = salt_;
        if (s2kMode_ == kS2KArgon2)
            Unsupported(); // a message's own packet carries Argon2's parameters
        sessions.push_back(std::move(held));
    }
    // Everything that can be judged without a key is judged before any is
    // derived (a string-to-key can take seconds): the algorithms of every
    // session packet (those this class lacks are passed over while another
    // remains), then the data packet's shape.
    std::vector<const SessionPacket*> usable;
    std::exception_ptr firstRefusal;
    for (const SessionPacket& s : sessions) {
        try {
            CheckSession(s);
            usable.push_back(&s);
        } catch (const XAlarm&) {
            if (!firstRefusal)
                firstRefusal = std::current_exception();
        }
    }
    if (usable.empty())
        std::rethrow_exception(firstRefusal);
    if (d.Cfb()) {
        const uint32_t extra = d.tag == kTagIntegrityData ? kMdcSize : 0;
        for (const SessionPacket* s : usable)
            if (s->version >= 5 || d.length < BlockSizeById(s->cipher) + 2 + extra)
                Corrupted();
    }

    const uint64_t budget = uint64_t(size) * 64 + (uint64_t(64) << 20);
    XBlob content(0);
    for (const SessionPacket* s : usable) {
        uint8_t cipher = 0;
        XBlob key = OpenSession(*s, d, cipher);
        if (key.Length() == 0)
            continue;
        const bool sealed = s->version >= 5 || s->esk;
        if (!DecryptData(d, cipher, key, sealed, content)) {
            Wipe(key);
            continue;
        }

        // The message's parameters replace the held ones.
        cipher_ = cipher;
        s2kMode_ = s->s2k.mode;
        if (s2kMode_ != kS2KArgon2)
            hash_ = s->s2k.hash;
        if (s2kMode_ != kS2KSimple)
            salt_ = s->s2k.salt;
        if (s2kMode_ == kS2KIterated)
            count_ = s->s2k.count;
        format_ = d.tag == kTagEncryptedData ? kFormatClassic
                  : d.tag == kTagAeadData    ? kFormatAeadLibre
                  : d.version == 2           ? kFormatAead
                                             : kFormatIntegrity;
        if (format_ >= kFormatAead) {
            aead_ = d.aead;
            chunkSize_ = d.chunkSize;
        }
        Wipe(key_);
        key_ = std::move(key);

        ContentState state{budget < 0x7FFFFFFF ? budget : 0x7FFFFFFF};
        state.strict = d.strict;
        XBlob plaintext = ReadContent(content.Data(), content.Length(), state, 0);
        compression_ = uint8_t(state.compression < 0 ? kCompressNone : state.compression);
        return plaintext;
    }
    WrongKey();
}
