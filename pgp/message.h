// XPgpMessage: password-encrypted OpenPGP messages (RFC 2440).
//
// A message is a symmetric-key encrypted session-key packet (tag 3) naming
// the cipher and the string-to-key parameters, then a symmetrically encrypted
// data packet (tag 9) whose plaintext is one literal data packet (tag 11).
// The string-to-key result is the message key itself: no session key travels
// in the tag 3 packet.  The data packet is enciphered in OpenPGP CFB mode
// (RFC 2440 section 12.8): a random prefix of block size + 2 bytes whose last
// two bytes repeat the two before them (the quick check of the password),
// then the resynchronisation step, then the literal packet.  No compression,
// no modification-detection packet, no public-key packets.
//
// Writing uses new-format packet headers with the shortest definite lengths.
// Reading accepts old- and new-format headers, joins the chunks of
// partial-length packets (RFC 2440 section 4.2.2.4) and lets an old-format
// packet of indeterminate length run to the end of the message, so that
// what GnuPG writes from a file or from a stream can be read.
//
// Failures raise XCryptoAlarm with the source "PGP": "Unsupported algorithm"
// for a cipher id or string-to-key type this class does not know (an unknown
// hash id gives the digests' own "Unsupported algorithm" without a source),
// "Data is corrupted" for a malformed message, "Invalid key" when the quick
// check of the decrypted prefix fails (in practice, a wrong password).
#pragma once

#include "cipher/block_cipher.h"
#include "core/xblob.h"
#include "random/random.h"

#include <cstdint>
#include <memory>

// Where a message's date and random bytes come from; tests replace both to
// get exact, repeatable messages.
struct XPgpSources {
    uint32_t (*clock)();    // seconds since 1970: the literal packet's date
    XRandomSources random;  // what RandomBlob draws the salt and the CFB prefix from
};

// The calendar clock and the system's random sources.
XPgpSources SystemPgpSources();

// A packet header as ReadPacketHeader found it.
struct XPgpPacketHeader {
    uint8_t tag = 0;
    uint32_t bodyLength = 0;   // for a partial length, the first chunk's length
    uint32_t headerLength = 0; // tag byte and length field
    bool partial = false;      // new-format partial body length: more chunks follow
    bool oldFormat = false;
    bool indeterminate = false; // old-format length type 3: the body runs to the end
};

class XPgpMessage {
public:
    // OpenPGP ids of the symmetric algorithms this class knows.
    static constexpr uint8_t kTripleDes = 2;
    static constexpr uint8_t kCast5 = 3;
    static constexpr uint8_t kBlowfish = 4;
    static constexpr uint8_t kAes128 = 7;
    static constexpr uint8_t kAes192 = 8;
    static constexpr uint8_t kAes256 = 9;
    static constexpr uint8_t kTwofish = 10;

    // String-to-key types.
    static constexpr uint8_t kS2KSimple = 0;
    static constexpr uint8_t kS2KSalted = 1;
    static constexpr uint8_t kS2KIterated = 3;

    // Packet tags.
    static constexpr uint8_t kTagSessionKey = 3;
    static constexpr uint8_t kTagEncryptedData = 9;
    static constexpr uint8_t kTagLiteralData = 11;

    static constexpr uint32_t kSaltSize = 8;

    // SHA-1, Blowfish, iterated and salted with count code 96 (65,536 bytes
    // hashed per digest); empty password, salt and key.
    explicit XPgpMessage(const XPgpSources& sources = SystemPgpSources());
    XPgpMessage(const XPgpMessage&) = delete;
    XPgpMessage& operator=(const XPgpMessage&) = delete;
    // Wipes the password and the key.
    ~XPgpMessage();

    // The setters store their values unchecked; an unsupported value is
    // reported by the next Encrypt or Decrypt.
    void SetAlgorithms(uint8_t hash, uint8_t cipher);
    void SetS2K(uint8_t mode, uint8_t count);
    void SetPassword(const XBlob& password);

    uint8_t Hash() const { return hash_; }
    uint8_t Cipher() const { return cipher_; }
    uint8_t S2KMode() const { return s2kMode_; }
    uint8_t Count() const { return count_; }
    const XBlob& Salt() const { return salt_; }
    const XBlob& Key() const { return key_; } // the key of the last Encrypt or Decrypt

    // The whole binary message for `plaintext`.  Draws a fresh salt (whatever
    // the string-to-key type) and a fresh prefix each time.  An empty
    // password is refused ("Invalid key" - "PGP") after the algorithm checks,
    // before anything is drawn or derived.
    XBlob Encrypt(const XBlob& plaintext);
    // The plaintext of the message's literal packet (its file name, date and
    // format are not returned; text-mode data come back unchanged).  The
    // parameters of the message's last session-key packet in front of the
    // data packet replace the held ones (salt too, for types 1 and 3) and stay;
    // without such a packet the held ones are used.  Bytes after the data
    // packet are ignored.  The packet structure, the algorithm ids and the
    // data packet's length and header are checked before the key is
    // derived; what only the key can show (the quick check, the literal
    // packet inside) is checked after.
    XBlob Decrypt(const XBlob& message);

    // --- packet-level helpers, public for the tests ---

    // A new, unkeyed engine for the cipher id; "Unsupported algorithm" - "PGP"
    // for an id the cipher table (cipher/ciphers.h) does not have.
    static std::unique_ptr<XBlockCipher> CipherById(uint8_t id);
    // The key size in bytes for the cipher id; refuses like CipherById.
    static uint32_t KeySizeById(uint8_t id);
    // The block size in bytes for the cipher id; refuses like CipherById.
    static uint32_t BlockSizeById(uint8_t id);

    // Appends the shortest new-format length for n: 1, 2 or 5 bytes.
    static void EncodeLength(uint32_t n, XBlob& out);
    // The new-format length starting at data[0] (available bytes there);
    // `partial` is set for a partial body length (2 to the power of the low
    // five bits).  "Data is corrupted" when the field is cut off.
    static uint32_t DecodeLength(const uint8_t* data, uint32_t available, bool& partial);
    // The bytes a length field takes for a body length: 1 for a partial
    // length; old format 1, 2 or 4; new format 1, 2 or 5.
    static uint32_t LengthFieldSize(uint32_t bodyLength, bool partial, bool oldFormat);
    // The header at data[0]; a new-format length is taken to be in its
    // shortest form.  "Data is corrupted" for a first byte without bit 7 or a
    // header cut off by the end of the data.
    static XPgpPacketHeader ReadPacketHeader(const uint8_t* data, uint32_t available);

private:
    // Refuses the held cipher, string-to-key type and hash, in that order,
    // with the alarms Encrypt and Decrypt report for them.
    void CheckAlgorithms() const;
    // key_ = the string-to-key result for the held parameters, the key size
    // of cipher_ long; refuses as CheckAlgorithms does.
    void DeriveKey();
    // Creates and keys the engine for cipher_ and zeroes the CFB state.
    void StartCipher();
    void StopCipher();

    // OpenPGP CFB over any number of bytes, continuing from the current
    // position; whole blocks go through the engine's multi-block calls.
    void CfbEncrypt(const uint8_t* in, uint8_t* out, size_t n);
    void CfbDecrypt(const uint8_t* in, uint8_t* out, size_t n);
    // One byte; `encrypt` chooses which side is the ciphertext.
    uint8_t CfbByte(uint8_t in, bool encrypt);
    // Loads bytes 2 .. bs + 1 of the enciphered prefix into both registers.
    void Resync(const uint8_t* encipheredPrefix);

    // The body of the data packet (its chunks joined), whose shape Decrypt
    // has checked: key, quick check, decryption, literal packet.
    XBlob DecryptData(const uint8_t* body, uint32_t length);

    XPgpSources sources_;

    uint8_t hash_ = 2;
    uint8_t cipher_ = kBlowfish;
    uint8_t s2kMode_ = kS2KIterated;
    uint8_t count_ = 96;
    XBlob key_;
    XBlob salt_;
    XBlob password_;

    // CFB state: only the first block-size bytes of the registers are used.
    uint8_t feedback_[32] = {};
    uint8_t keystream_[32] = {};
    uint32_t position_ = 0;
    uint32_t blockSize_ = 0;
    std::unique_ptr<XBlockCipher> engine_;
};
