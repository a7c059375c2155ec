// Fuzz target: XPgpMessage::Decrypt on arbitrary bytes with the password
// "fuzz" (the seed corpus is made with it, so the fuzzer starts from
// messages that decrypt).  Anything may be thrown as an XAlarm; nothing may
// crash, hang or leak.  When a message decrypts, the object holds its
// parameters: they must write a message that decrypts back to the same
// plaintext, and so must other parameters, chosen by the input's last byte,
// on a plaintext that may be stretched past 8383 bytes (a five-byte packet
// length): a reader with only the password takes them from the message.
// The packet-length helpers must read back what they write.
//
// An iterated string-to-key count code above 127 hashes up to 65 MB per
// digest, and Argon2 may ask for gigabytes: legitimate, but it would spend
// the fuzzing time in the key derivation.  The harness lowers such codes in
// the session-key packets it finds before decrypting (counts to their low
// seven bits; Argon2 to one pass over at most 1 MiB), so those inputs still
// run, with a cheaper derivation.
#include "cipher/ciphers.h"
#include "core/alarm.h"
#include "core/xblob.h"
#include "pgp/message.h"
#include "tests/fuzz/fuzz_support.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void LowerCounts(std::vector<uint8_t>& m)
{
    uint32_t pos = 0;
    const uint32_t size = uint32_t(m.size());
    while (pos < size) {
        XPgpPacketHeader h;
        try {
            h = XPgpMessage::ReadPacketHeader(m.data() + pos, size - pos);
        } catch (const XAlarm&) {
            return;
        }
        if (h.partial || h.indeterminate)
            return;
        const uint32_t start = pos + h.headerLength;
        const uint64_t end = uint64_t(start) + h.bodyLength;
        if (h.tag != XPgpMessage::kTagSessionKey || end > size || h.bodyLength < 1)
            return;
        // Where the specifier starts: after version and cipher (4), the AEAD
        // mode too (5), or the counts of version 6.
        const uint8_t version = m[start];
        const uint32_t s2k = start + (version == 6 ? 5 : version == 5 ? 3 : 2);
        if (s2k < end && m[s2k] == XPgpMessage::kS2KIterated && s2k + 10 < end)
            m[s2k + 10] &= 0x7F;
        if (s2k < end && m[s2k] == XPgpMessage::kS2KArgon2 && s2k + 19 < end) {
            m[s2k + 17] = 1;
            if (m[s2k + 19] > 10)
                m[s2k + 19] = 10;
        }
        pos = uint32_t(end);
    }
}

// The shortest new-format length for n reads back as n, in the size
// LengthFieldSize gives.
void CheckLength(uint32_t n)
{
    XBlob field;
    XPgpMessage::EncodeLength(n, field);
    FUZZ_CHECK(field.Length() == XPgpMessage::LengthFieldSize(n, false, false));
    bool partial = true;
    FUZZ_CHECK(XPgpMessage::DecodeLength(field.Data(), field.Length(), partial) == n && !partial);
}

// Writes the plaintext under parameters chosen by `choice` and reads it
// back with a fresh object that knows only the password.
void CheckOtherParameters(const XBlob& password, XBlob plaintext, uint8_t choice, uint32_t seed)
{
    size_t count = 0;
    const XCipherAlgorithm* ciphers = CipherAlgorithms(count);
    const uint8_t cipher = ciphers[choice % count].pgpId;
    const uint8_t hash = uint8_t(1 + (choice >> 3) % 3);
    const uint8_t modes[] = {XPgpMessage::kS2KSimple, XPgpMessage::kS2KSalted, XPgpMessage::kS2KIterated};
    const uint8_t mode = modes[(choice >> 5) % 3];
    const uint8_t code = uint8_t(seed & 0x7F);
    if (choice & 0x80) {
        // Past 8383 bytes the data packet needs a five-byte length.
        const XBlob unit = plaintext.Length() ? plaintext : fuzz::Blob(reinterpret_cast<const uint8_t*>("x"), 1);
        while (plaintext.Length() < 8384)
            plaintext.Append(unit);
    }
    XPgpMessage writer;
    writer.SetPassword(password);
    writer.SetAlgorithms(hash, cipher);
    writer.SetS2K(mode, code);
    const XBlob message = writer.Encrypt(plaintext);
    FUZZ_CHECK(writer.Key().Length() == XPgpMessage::KeySizeById(cipher));
    FUZZ_CHECK(writer.Salt().Length() == XPgpMessage::kSaltSize);

    XPgpMessage reader;
    reader.SetPassword(password);
    FUZZ_CHECK(reader.Decrypt(message) == plaintext);
    FUZZ_CHECK(reader.Hash() == hash && reader.Cipher() == cipher && reader.S2KMode() == mode);
    FUZZ_CHECK(reader.Key() == writer.Key());
    if (mode == XPgpMessage::kS2KIterated)
        FUZZ_CHECK(reader.Count() == code);
    if (mode != XPgpMessage::kS2KSimple)
        FUZZ_CHECK(reader.Salt() == writer.Salt());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    std::vector<uint8_t> bytes(data, data + size);
    LowerCounts(bytes);

    XBlob message;
    message.AppendBytes(bytes.data(), uint32_t(bytes.size()));
    XBlob password;
    password.AssignText("fuzz");

    XPgpMessage pgp;
    pgp.SetPassword(password);
    XBlob plaintext;
    try {
        plaintext = pgp.Decrypt(message);
    } catch (const XAlarm&) {
        return 0;
    }
    // Only decompression makes a plaintext longer than its message.
    if (plaintext.Length() > message.Length() && pgp.Compression() == XPgpMessage::kCompressNone)
        std::abort();

    // The parameters the message left behind write a message that reads
    // back (with a cheap key derivation: Argon2 writes 64 MiB; and the
    // AEAD formats take no unsalted one).
    if (pgp.S2KMode() == XPgpMessage::kS2KIterated && pgp.Count() > 0x7F)
        pgp.SetS2K(pgp.S2KMode(), 0x7F);
    if (pgp.S2KMode() == XPgpMessage::kS2KArgon2 ||
        (pgp.S2KMode() == XPgpMessage::kS2KSimple && pgp.Format() >= XPgpMessage::kFormatAead))
        pgp.SetS2K(XPgpMessage::kS2KIterated, 0);
    const XBlob again = pgp.Encrypt(plaintext);
    if (!(pgp.Decrypt(again) == plaintext))
        std::abort();

    const uint8_t last = data[size - 1];
    CheckOtherParameters(password, plaintext, last, uint32_t(size * 2654435761u));
    CheckLength(uint32_t(plaintext.Length()) * 37u + last);
    CheckLength(uint32_t(size) << (last & 15));
    return 0;
}
