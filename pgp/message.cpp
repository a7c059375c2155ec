#include "pgp/message.h"

#include "cipher/ciphers.h"
#include "core/alarm.h"
#include "core/wipe.h"
#include "hash/digest.h"
#include "hash/s2k.h"

#include <cstring>
#include <ctime>
#include <new>

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
    StopCipher();
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

// --- key and cipher ------------------------------------------------------------

void XPgpMessage::CheckAlgorithms() const
{
    KeySizeById(cipher_);
    if (s2kMode_ != kS2KSimple && s2kMode_ != kS2KSalted && s2kMode_ != kS2KIterated)
        throw XCryptoAlarm(XMessage::kUnsupportedAlgorithm, kSource);
    HashSizeById(hash_);
}

void XPgpMessage::DeriveKey()
{
    CheckAlgorithms();
    const uint32_t size = KeySizeById(cipher_);
    XBlob key(0);
    switch (s2kMode_) {
    case kS2KSimple: key = S2KSimple(hash_, size, password_); break;
    case kS2KSalted: key = S2KSalted(hash_, size, password_, salt_); break;
    default: key = S2KIterated(hash_, size, password_, salt_, count_); break; // what CheckAlgorithms left
    }
    Wipe(key_);
    key_ = std::move(key);
}

void XPgpMessage::StartCipher()
{
    engine_ = CipherById(cipher_);
    engine_->MakeKey(key_, key_.Length());
    blockSize_ = engine_->BlockSize();
    std::memset(feedback_, 0, sizeof feedback_);
    std::memset(keystream_, 0, sizeof keystream_);
    position_ = 0;
}

void XPgpMessage::StopCipher()
{
    engine_.reset();
    SecureWipe(feedback_, sizeof feedback_);
    SecureWipe(keystream_, sizeof keystream_);
    position_ = 0;
}

// --- OpenPGP CFB -----------------------------------------------------------------
//
// The reference is one byte at a time (CfbByte): at position 0 the feedback
// register is enciphered into the keystream register; each data byte is
// XORed with the keystream byte at the position and the ciphertext byte is
// stored into the feedback register there.  Between resyncs this is plain
// CFB with a full-block shift, so whole blocks starting at position 0 are
// done in bulk:
//
//  - decrypting, the keystream of block i is E(C[i-1]) (E(feedback) for the
//    first), all known in advance: one EncryptBlocks call per run of blocks;
//  - encrypting, x[i+1] = E(C[i]) = E(P[i] ^ x[i]), which is cipher block
//    chaining of the plaintext with x[0] = E(feedback) as the chaining
//    block: EncryptBlocksChained yields the keystream of each next block.
//
// Afterwards the feedback register holds the last ciphertext block and the
// position is 0, exactly where the byte-wise reference would stand.

namespace {

constexpr size_t kRunBlocks = 256;

void XorBlock(const uint8_t* a, const uint8_t* b, uint8_t* out, uint32_t n)
{
    for (uint32_t j = 0; j < n; ++j)
        out[j] = a[j] ^ b[j];
}

} // namespace

uint8_t XPgpMessage::CfbByte(uint8_t in, bool encrypt)
{
    if (position_ == 0)
        engine_->EncryptBlock(feedback_, keystream_);
    const uint8_t out = in ^ keystream_[position_];
    feedback_[position_] = encrypt ? out : in;
    if (++position_ == blockSize_)
        position_ = 0;
    return out;
}

void XPgpMessage::CfbEncrypt(const uint8_t* in, uint8_t* out, size_t n)
{
    const uint32_t bs = blockSize_;
    size_t i = 0;
    for (; i < n && position_ != 0; ++i)
        out[i] = CfbByte(in[i], true);

    size_t blocks = (n - i) / bs;
    if (blocks) {
        // x: the keystream of the current block; the engine's chaining call
        // turns it into the keystream of the block after each one.
        uint8_t x[XBlockCipher::kMaxBlockSize];
        uint8_t next[kRunBlocks * XBlockCipher::kMaxBlockSize];
        engine_->EncryptBlock(feedback_, x);
        while (blocks) {
            const size_t run = blocks < kRunBlocks ? blocks : kRunBlocks;
            uint8_t chain[XBlockCipher::kMaxBlockSize];
            std::memcpy(chain, x, bs);
            engine_->EncryptBlocksChained(in + i, next, run, chain);
            // C[0] = P[0] ^ x; C[k] = P[k] ^ next[k-1]; in may equal out.
            XorBlock(in + i, x, out + i, bs);
            for (size_t k = 1; k < run; ++k)
                XorBlock(in + i + k * bs, next + (k - 1) * bs, out + i + k * bs, bs);
            std::memcpy(x, chain, bs);
            i += run * bs;
            blocks -= run;
        }
        std::memcpy(feedback_, out + i - bs, bs);
        SecureWipe(next, sizeof next);
        SecureWipe(x, sizeof x);
    }

    for (; i < n; ++i)
        out[i] = CfbByte(in[i], true);
}

void XPgpMessage::CfbDecrypt(const uint8_t* in, uint8_t* out, size_t n)
{
    const uint32_t bs = blockSize_;
    size_t i = 0;
    for (; i < n && position_ != 0; ++i)
        out[i] = CfbByte(in[i], false);

    size_t blocks = (n - i) / bs;
    if (blocks) {
        // ks[k] = E(C[k-1]), C[-1] being the feedback register.
        uint8_t ks[kRunBlocks * XBlockCipher::kMaxBlockSize];
        while (blocks) {
            const size_t run = blocks < kRunBlocks ? blocks : kRunBlocks;
            std::memcpy(ks, feedback_, bs);
            std::memcpy(ks + bs, in + i, (run - 1) * bs);
            // The last ciphertext block of the run, taken before out (which
            // may be in) is written.
            std::memcpy(feedback_, in + i + (run - 1) * bs, bs);
            engine_->EncryptBlocks(ks, ks, run);
            for (size_t k = 0; k < run * bs; ++k)
                out[i + k] = in[i + k] ^ ks[k];
            i += run * bs;
            blocks -= run;
        }
        SecureWipe(ks, sizeof ks);
    }

    for (; i < n; ++i)
        out[i] = CfbByte(in[i], false);
}

void XPgpMessage::Resync(const uint8_t* encipheredPrefix)
{
    std::memcpy(feedback_, encipheredPrefix + 2, blockSize_);
    std::memcpy(keystream_, encipheredPrefix + 2, blockSize_);
    position_ = 0;
}

// --- writing -------------------------------------------------------------------

XBlob XPgpMessage::Encrypt(const XBlob& plaintext)
{
    // A message under the empty password protects nothing: anyone who tries
    // the empty password reads it.  Refused after the algorithm checks and
    // before any work; Decrypt still reads such messages.
    CheckAlgorithms();
    if (password_.Length() == 0)
        throw XCryptoAlarm(XMessage::kInvalidKey, kSource);
    XBlob salt = RandomBlob(kSaltSize, sources_.random);
    salt_ = std::move(salt);
    DeriveKey();

    struct Stop {
        XPgpMessage* self;
        ~Stop() { self->StopCipher(); }
    } stop{this};
    StartCipher();
    const uint32_t bs = blockSize_;

    // Sizes: literal packet = tag, length, format, name length, date, data.
    const uint32_t n = plaintext.Length();
    const uint64_t literalBody = uint64_t(n) + 6;
    if (literalBody + 64 > UINT32_MAX)
        throw std::bad_alloc();
    const uint32_t literalLength = 1 + NewLengthSize(uint32_t(literalBody)) + uint32_t(literalBody);
    const uint64_t dataBody = uint64_t(bs) + 2 + literalLength;
    const uint32_t sessionBody = 4 + (s2kMode_ != kS2KSimple ? kSaltSize : 0) + (s2kMode_ == kS2KIterated ? 1 : 0);
    const uint64_t total = 2 + sessionBody + 1 + NewLengthSize(uint32_t(dataBody)) + dataBody;
    if (total > UINT32_MAX)
        throw std::bad_alloc();

    XBlob message{uint32_t(total)};

    // Session-key packet.
    message.AppendByte(0xC0 | kTagSessionKey);
    message.AppendByte(uint8_t(sessionBody));
    const uint8_t fields[4] = {4, cipher_, s2kMode_, hash_};
    message.AppendBytes(fields, 4);
    if (s2kMode_ != kS2KSimple)
        message.Append(salt_);
    if (s2kMode_ == kS2KIterated)
        message.AppendByte(count_);

    // Literal packet, built in place behind the data packet's header and
    // prefix, then enciphered there.
    message.AppendByte(0xC0 | kTagEncryptedData);
    EncodeLength(uint32_t(dataBody), message);
    const uint32_t prefixAt = message.Length();
    XBlob prefix = RandomBlob(bs, sources_.random);
    prefix.AppendByte(prefix.At(bs - 2));
    prefix.AppendByte(prefix.At(bs - 1));
    message.Append(prefix);
    Wipe(prefix);

    const uint32_t literalAt = message.Length();
    message.AppendByte(0xC0 | kTagLiteralData);
    EncodeLength(uint32_t(literalBody), message);
    message.AppendByte('b');
    message.AppendByte(0); // no file name
    AppendBigEndian32(message, sources_.clock());
    message.Append(plaintext);

    uint8_t* bytes = message.Data();
    CfbEncrypt(bytes + prefixAt, bytes + prefixAt, bs + 2);
    Resync(bytes + prefixAt);
    CfbEncrypt(bytes + literalAt, bytes + literalAt, literalLength);
    return message;
}

// --- reading ---------------------------------------------------------------------

XBlob XPgpMessage::Decrypt(const XBlob& message)
{
    const uint8_t* data = message.Data();
    const uint32_t size = message.Length();
    XBlob joined(0);
    uint32_t pos = 0;
    for (;;) {
        if (pos >= size)
            Corrupted();
        const XPgpPacketHeader header = ReadPacketHeader(data + pos, size - pos);
        const Body body = ReadBody(data, size, pos, header, joined);
        pos = body.end;

        if (header.tag == kTagSessionKey) {
            const uint8_t* b = body.data;
            if (body.length < 4 || b[0] != 4)
                Corrupted();
            const uint8_t mode = b[2];
            if ((mode != kS2KSimple && body.length < 12) || (mode == kS2KIterated && body.length < 13))
                Corrupted();
            cipher_ = b[1];
            s2kMode_ = mode;
            hash_ = b[3];
            if (mode != kS2KSimple) {
                salt_.Clear();
                salt_.AppendBytes(b + 4, kSaltSize);
            }
            if (mode == kS2KIterated)
                count_ = b[12];
            continue;
        }
        if (header.tag != kTagEncryptedData)
            Corrupted();

        // Everything that can be judged without the key is judged before
        // it is derived (with code 255 that costs 65 MB of hashing): the
        // packets above, the algorithms, then the data packet's own shape.
        // The order of the reports is the order in which the derivation and
        // the decryption would have found them.
        CheckAlgorithms();
        const bool definite = !header.partial && !header.indeterminate;
        if (body.length < BlockSizeById(cipher_) + 2 ||
            (definite && header.headerLength != 1 + LengthFieldSize(header.bodyLength, false, header.oldFormat)))
            Corrupted();

        return DecryptData(body.data, body.length);
    }
}

XBlob XPgpMessage::DecryptData(const uint8_t* body, uint32_t length)
{
    DeriveKey();
    struct Stop {
        XPgpMessage* self;
        ~Stop() { self->StopCipher(); }
    } stop{this};
    StartCipher();
    const uint32_t bs = blockSize_;

    uint8_t prefix[XBlockCipher::kMaxBlockSize + 2];
    CfbDecrypt(body, prefix, bs + 2);
    const bool keyOk = prefix[bs] == prefix[bs - 2] && prefix[bs + 1] == prefix[bs - 1];
    SecureWipe(prefix, sizeof prefix);
    if (!keyOk)
        throw XCryptoAlarm(XMessage::kInvalidKey, kSource);
    Resync(body);

    const uint32_t contentLength = length - bs - 2;
    XBlob content(contentLength);
    content.SetLength(contentLength);
    CfbDecrypt(body + bs + 2, content.Data(), contentLength);

    struct WipeContent {
        XBlob& b;
        ~WipeContent() { Wipe(b); }
    } wipeContent{content};

    // One literal packet filling the content exactly.
    const uint8_t* c = content.Data();
    const XPgpPacketHeader literal = ReadPacketHeader(c, contentLength);
    if (literal.tag != kTagLiteralData || contentLength < 8)
        Corrupted();
    XBlob joined(0);
    struct WipeJoined {
        XBlob& b;
        ~WipeJoined() { Wipe(b); }
    } wipeJoined{joined};
    const Body lit = ReadBody(c, contentLength, 0, literal, joined);
    if (lit.end != contentLength)
        Corrupted();
    if (!literal.partial && !literal.indeterminate &&
        uint64_t(1) + LengthFieldSize(literal.bodyLength, false, literal.oldFormat) + literal.bodyLength != contentLength)
        Corrupted();
    const uint8_t* b = lit.data;
    if (lit.length < 6 || (b[0] != 'b' && b[0] != 't'))
        Corrupted();
    const uint32_t skip = 1 + 1 + b[1] + 4; // format, name length, name, date
    if (lit.length < skip)
        Corrupted();

    XBlob plaintext(lit.length - skip);
    plaintext.AppendBytes(b + skip, lit.length - skip);
    return plaintext;
}
