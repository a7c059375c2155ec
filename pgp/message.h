// XPgpMessage: password-encrypted OpenPGP messages, read in every form that
// today's tools write and written in four.
//
// A message is one or more symmetric-key session packets (tag 3) naming the
// cipher and the string-to-key parameters, then one encrypted data packet:
//
//  format 0, classic (RFC 2440): version-4 session packet whose
//    string-to-key result is the message key; data packet tag 9 in OpenPGP
//    CFB with the resynchronisation after the random prefix.  What this
//    class has always written, byte for byte.
//  format 1, integrity-protected (RFC 4880): the same session packet; data
//    packet tag 18 version 1, CFB without the resync, ending in a
//    modification-detection packet (tag 19: SHA-1 of everything before it).
//  format 2, RFC 9580: version-6 session packet carrying a random session
//    key sealed with AEAD under an HKDF-derived key; data packet tag 18
//    version 2, chunked AEAD (OCB, EAX or GCM) under a key and IV derived
//    from the session key and a salt with HKDF-SHA256.
//  format 3, the AEAD packet of LibrePGP: version-5 session packet (sealed
//    session key, no HKDF); data packet tag 20 with the IV XORed with the
//    chunk index.
//
// Inside the encryption: a literal packet (tag 11, any format byte of b, t,
// u, m), optionally in compressed packets (tag 8: ZIP, ZLIB, or stored),
// with one-pass-signature, signature, marker and padding packets skipped
// (no public-key signature is checked).  Decompression stops with "Data is
// corrupted" beyond 64 times the message's size plus 64 MiB.
//
// Writing uses new-format packet headers with the shortest definite lengths.
// Reading accepts old- and new-format headers, joins the chunks of
// partial-length packets and lets an old-format packet of indeterminate
// length run to the end of the message, so that what GnuPG writes from a
// file or from a stream can be read.
//
// Failures raise XCryptoAlarm with the source "PGP": "Unsupported algorithm"
// for a cipher, string-to-key type, AEAD mode or compression this class does
// not have (an unknown hash id gives the digests' own "Unsupported
// algorithm" without a source), and for a message encrypted to public keys
// only; "Data is corrupted" for a malformed message, a failed integrity
// check or authentication tag (no plaintext is returned then); "Invalid key"
// when no session packet opens with the password (in practice, a wrong
// password).
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
    static constexpr uint8_t kS2KArgon2 = 4;

    // Packet tags.
    static constexpr uint8_t kTagPublicKeySession = 1;
    static constexpr uint8_t kTagSignature = 2;
    static constexpr uint8_t kTagSessionKey = 3;
    static constexpr uint8_t kTagOnePassSignature = 4;
    static constexpr uint8_t kTagCompressed = 8;
    static constexpr uint8_t kTagEncryptedData = 9;
    static constexpr uint8_t kTagMarker = 10;
    static constexpr uint8_t kTagLiteralData = 11;
    static constexpr uint8_t kTagIntegrityData = 18;
    static constexpr uint8_t kTagModificationDetection = 19;
    static constexpr uint8_t kTagAeadData = 20;
    static constexpr uint8_t kTagPadding = 21;

    // Message formats (see the top of this file).
    static constexpr uint8_t kFormatClassic = 0;
    static constexpr uint8_t kFormatIntegrity = 1;
    static constexpr uint8_t kFormatAead = 2;
    static constexpr uint8_t kFormatAeadLibre = 3;

    // AEAD modes (OpenPGP ids) and compression algorithms.
    static constexpr uint8_t kAeadEax = 1;
    static constexpr uint8_t kAeadOcb = 2;
    static constexpr uint8_t kAeadGcm = 3;
    static constexpr uint8_t kCompressNone = 0;
    static constexpr uint8_t kCompressZip = 1;
    static constexpr uint8_t kCompressZlib = 2;

    static constexpr uint32_t kSaltSize = 8;
    static constexpr uint32_t kArgon2SaltSize = 16;
    // Chunk size octet c: chunks of 2^(c + 6) bytes; 12 is 256 KiB.
    static constexpr uint8_t kDefaultChunkSize = 12;
    static constexpr uint8_t kMaxChunkSize = 16;
    // What Argon2 key derivation writes: passes, lanes, memory 2^16 KiB.
    static constexpr uint8_t kArgon2Passes = 3;
    static constexpr uint8_t kArgon2Lanes = 4;
    static constexpr uint8_t kArgon2MemoryExponent = 16;
    // The most memory a message may ask Argon2 for: 2^21 KiB (2 GiB).
    static constexpr uint8_t kMaxArgon2MemoryExponent = 21;

    // SHA-1, Blowfish, iterated and salted with count code 96 (65,536 bytes
    // hashed per digest); empty password, salt and key; format 0, OCB with
    // 256 KiB chunks, no compression.
    explicit XPgpMessage(const XPgpSources& sources = SystemPgpSources());
    XPgpMessage(const XPgpMessage&) = delete;
    XPgpMessage& operator=(const XPgpMessage&) = delete;
    // Wipes the password and the key.
    ~XPgpMessage();

    // The setters store their values unchecked; an unsupported value is
    // reported by the next Encrypt (or, for the parameters a message does
    // not carry, Decrypt).
    void SetAlgorithms(uint8_t hash, uint8_t cipher);
    void SetS2K(uint8_t mode, uint8_t count);
    void SetPassword(const XBlob& password);
    void SetFormat(uint8_t format) { format_ = format; }
    void SetAead(uint8_t aead) { aead_ = aead; }
    void SetChunkSize(uint8_t octet) { chunkSize_ = octet; }
    void SetCompression(uint8_t algorithm) { compression_ = algorithm; }

    uint8_t Hash() const { return hash_; }
    uint8_t Cipher() const { return cipher_; }
    uint8_t S2KMode() const { return s2kMode_; }
    uint8_t Count() const { return count_; }
    uint8_t Format() const { return format_; }
    uint8_t Aead() const { return aead_; }
    uint8_t ChunkSize() const { return chunkSize_; }
    uint8_t Compression() const { return compression_; }
    const XBlob& Salt() const { return salt_; }
    // The key of the last Encrypt or Decrypt that the data packet is
    // enciphered with: the string-to-key result in formats 0 and 1 (as
    // written here), the session key in formats 2 and 3.
    const XBlob& Key() const { return key_; }

    // The whole binary message for `plaintext` in the held format.  Draws a
    // fresh salt (whatever the string-to-key type), and fresh prefixes,
    // session keys, IVs and salts as the format needs, each time.  An empty
    // password is refused ("Invalid key" - "PGP") after the checks of the
    // settings, before anything is drawn or derived.  Formats 2 and 3 need
    // a cipher with 16-byte blocks; Argon2 needs format 2.
    XBlob Encrypt(const XBlob& plaintext);
    // The plaintext of the message's literal packet (its file name, date and
    // format are not returned; text-mode data come back unchanged).  Each
    // session packet in front of the data packet is tried with the password
    // in turn; the parameters of the one that opens the message replace the
    // held ones (salt too, for types 1, 3 and 4) and stay, with the format,
    // AEAD mode, chunk size and compression the message has.  Without a
    // session packet the held parameters are used.  Bytes after the data
    // packet are ignored.  The packet structure, the algorithm ids and the
    // data packet's shape are checked before any key is derived; what only
    // the key can show is checked after.
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

    // A string-to-key specifier as a session packet carries it.
    struct S2KParams {
        uint8_t mode = kS2KIterated;
        uint8_t hash = 2;
        uint8_t count = 96;
        XBlob salt{0};
        uint8_t passes = kArgon2Passes;           // Argon2
        uint8_t lanes = kArgon2Lanes;             // Argon2
        uint8_t memoryExponent = kArgon2MemoryExponent; // Argon2
    };

    // A session packet and a data packet as Decrypt parsed them, and what
    // reading the decrypted contents carries from packet to packet.
    struct SessionPacket;
    struct DataPacket;
    struct ContentState;

private:

    // Refuses the held cipher, string-to-key type and hash, in that order,
    // then the format's own settings, with the alarms Encrypt reports.
    void CheckWriteSettings() const;
    // The string-to-key result of `length` bytes for the password.
    XBlob DeriveS2K(const S2KParams& params, uint32_t length) const;

    // The literal packet for the plaintext, compressed as held.
    XBlob InnerPackets(const XBlob& plaintext) const;
    XBlob EncryptClassic(const XBlob& inner, const XBlob& plaintext);
    XBlob EncryptIntegrity(const XBlob& inner);
    XBlob EncryptAead(const XBlob& inner);

    // The session key a session packet gives with the password, with its
    // cipher in `cipher`; empty when the password does not open it.
    XBlob OpenSession(const SessionPacket& s, const DataPacket& d, uint8_t& cipher) const;
    // The decrypted contents of the data packet under `key`, or false for a
    // key that is not the message's (the prefix check of CFB formats, or
    // the first chunk's tag of AEAD formats under a key not sealed in a
    // session packet).  A failed modification check or a later failed tag
    // is "Data is corrupted".
    bool DecryptData(const DataPacket& d, uint8_t cipher, const XBlob& key, bool sealedKey, XBlob& content) const;
    // The literal data inside decrypted contents.
    XBlob ReadContent(const uint8_t* data, uint32_t size, ContentState& state, uint32_t depth) const;

    XPgpSources sources_;

    uint8_t hash_ = 2;
    uint8_t cipher_ = kBlowfish;
    uint8_t s2kMode_ = kS2KIterated;
    uint8_t count_ = 96;
    uint8_t format_ = kFormatClassic;
    uint8_t aead_ = kAeadOcb;
    uint8_t chunkSize_ = kDefaultChunkSize;
    uint8_t compression_ = kCompressNone;
    XBlob key_;
    XBlob salt_;
    XBlob password_;
};
