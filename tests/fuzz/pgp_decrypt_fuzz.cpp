// Fuzz target: XPgpMessage::Decrypt on arbitrary bytes with the password
// "fuzz" (the seed corpus is made with it, so the fuzzer starts from
// messages that decrypt).  Anything may be thrown as an XAlarm; nothing may
// crash, hang or leak.  When a message decrypts, the object holds its
// parameters: they must write a message that decrypts back to the same
// plaintext.
//
// An iterated string-to-key count code above 127 hashes up to 65 MB per
// digest: legitimate, but it would spend the fuzzing time in the hash.  The
// harness lowers such codes in the session-key packets it finds before
// decrypting, so those inputs still run (with a cheaper key derivation).
#include "core/alarm.h"
#include "core/xblob.h"
#include "pgp/message.h"

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
        if (h.tag == XPgpMessage::kTagSessionKey && h.bodyLength >= 13 && end <= size &&
            m[start + 2] == XPgpMessage::kS2KIterated)
            m[start + 12] &= 0x7F;
        if (h.tag != XPgpMessage::kTagSessionKey || end > size)
            return;
        pos = uint32_t(end);
    }
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
    if (plaintext.Length() > message.Length())
        std::abort();

    // The parameters the message left behind write a message that reads back.
    if (pgp.S2KMode() == XPgpMessage::kS2KIterated && pgp.Count() > 0x7F)
        pgp.SetS2K(pgp.S2KMode(), 0x7F);
    const XBlob again = pgp.Encrypt(plaintext);
    if (!(pgp.Decrypt(again) == plaintext))
        std::abort();
    return 0;
}
