// Fuzz target: the five block-cipher engines (AES, Twofish, Blowfish, CAST,
// TripleDES) through the XBlockCipher interface the scriptable cipher
// classes use: key records in and out (SetKey/GetKey), keys made from
// material (MakeKey), and Encrypt/Decrypt in ECB, CBC and the other mode
// values on fuzzer bytes.  These must hold:
//
// - a key record is accepted exactly when it has the engine's form, and
//   exports again as the engine promises (AES, Twofish and Blowfish: the same
//   bytes; CAST and TripleDES: the first 20 or 24 bytes); a refused record
//   raises "Data is corrupted" with the engine's name and changes nothing;
// - MakeKey builds the key of the README's table from the material, padded
//   with the filler byte;
// - an engine loaded with another's exported key is the same cipher;
// - Encrypt equals ECB or CBC done block by block with the single-block
//   function (so the engines' multi-block and chained paths agree with it),
//   also when the message goes in two calls, and Decrypt undoes it; the
//   chaining block ends as documented; a length that is not whole blocks is
//   refused with the chaining block untouched;
// - AES gives the same blocks with the portable code and with AES-NI (the
//   two are switched between calls); CAST with any round count but 16 is the
//   12-round cipher; TripleDES ignores the parity bits and with K1 = K2 is
//   single DES under K3;
// - Blowfish refuses damaged constant tables and keeps the key it had.
//
// Input: a control byte (engine = low 3 bits mod 5; bit 3: key from a record
// instead of MakeKey; bits 4-5: mode 1, 2, another value, or Setup with the
// value of the next field; bit 6: AES-NI for Encrypt; bit 7: damaged
// Blowfish tables), the filler byte, a 4-byte MakeKey length, a 4-byte mode
// value, a split byte, a 4-byte table damage field, then four parts (2-byte
// length and bytes): key material or record, plaintext, ciphertext, a second
// key record.
#include "cipher/aes.h"
#include "cipher/block_cipher.h"
#include "cipher/blowfish.h"
#include "cipher/ciphers.h"
#include "cipher/cast.h"
#include "cipher/triple_des.h"
#include "cipher/twofish.h"
#include "core/alarm.h"
#include "core/xblob.h"
#include "tests/fuzz/fuzz_support.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

using fuzz::Blob;
using fuzz::Bytes;

namespace {

using ByteString = std::vector<uint8_t>;

enum Engine { kAes, kTwofish, kBlowfish, kCast, kTripleDes, kEngines };

const char* const kSourceNames[kEngines] = {"AES", "Twofish", "Blowfish", "CAST", "TripleDES"};

// Blowfish whose constant tables can be swapped for damaged ones after it
// has been keyed with the standard ones.
class TableBlowfish : public XBlowfish {
public:
    const XBlowfishConstants* tables = &kBlowfishConstants;

protected:
    const XBlowfishConstants& InitialConstants() const override { return *tables; }
};

std::unique_ptr<XBlockCipher> NewEngine(int engine)
{
    switch (engine) {
    case kAes: return std::make_unique<XAes>();
    case kTwofish: return std::make_unique<XTwofish>();
    case kBlowfish: return std::make_unique<TableBlowfish>();
    case kCast: return std::make_unique<XCast>();
    default: return std::make_unique<XTripleDes>();
    }
}

uint32_t ReadBe32(const ByteString& b, size_t pos)
{
    return uint32_t(b[pos]) << 24 | uint32_t(b[pos + 1]) << 16 | uint32_t(b[pos + 2]) << 8 | b[pos + 3];
}

ByteString Be32(uint32_t v)
{
    return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}

// The engine's promise for a record: whether it is accepted, and the record
// GetKey then gives.
bool ExpectedRecord(int engine, const ByteString& record, ByteString& exported)
{
    const size_t n = record.size();
    switch (engine) {
    case kAes: {
        if (n < 5)
            return false;
        const uint32_t rounds = ReadBe32(record, 0);
        const size_t key = rounds == 10 ? 16 : rounds == 12 ? 24 : rounds == 14 ? 32 : 0;
        if (key == 0 || n != 4 + key)
            return false;
        exported = record;
        return true;
    }
    case kTwofish: {
        if (n < 5)
            return false;
        const uint32_t words = ReadBe32(record, 0);
        if (words < 2 || words > 4 || n != 4 + 8 * size_t(words))
            return false;
        exported = record;
        return true;
    }
    case kBlowfish: {
        if (n < 5)
            return false;
        const uint32_t length = ReadBe32(record, 0);
        if (length < 1 || length > 56 || n != 4 + size_t(length))
            return false;
        exported = record;
        return true;
    }
    case kCast:
        if (n < 20)
            return false;
        exported.assign(record.begin(), record.begin() + 20);
        return true;
    default:
        if (n < 24)
            return false;
        exported.assign(record.begin(), record.begin() + 24);
        return true;
    }
}

// The record MakeKey(material, length) must leave behind.
ByteString ExpectedMadeRecord(int engine, const ByteString& material, uint32_t length, uint8_t filler)
{
    ByteString header;
    size_t keyLength;
    switch (engine) {
    case kAes: {
        const uint32_t rounds = length >= 32 ? 14 : length >= 24 ? 12 : 10;
        keyLength = rounds == 14 ? 32 : rounds == 12 ? 24 : 16;
        header = Be32(rounds);
        break;
    }
    case kTwofish:
        keyLength = length <= 16 ? 16 : length <= 24 ? 24 : 32;
        header = Be32(uint32_t(keyLength / 8));
        break;
    case kBlowfish:
        keyLength = length <= 8 ? 8 : length >= 56 ? 56 : length;
        header = Be32(uint32_t(keyLength));
        break;
    case kCast:
        keyLength = 16;
        header = Be32(material.size() > 10 ? 16 : 12);
        break;
    default:
        keyLength = 24;
        break;
    }
    ByteString record = header;
    const size_t copied = std::min(material.size(), keyLength);
    record.insert(record.end(), material.begin(), material.begin() + copied);
    record.resize(header.size() + keyLength, filler);
    return record;
}

// The padded plaintext Encrypt works on.
ByteString Padded(const ByteString& plain, uint32_t block, uint8_t filler)
{
    ByteString padded = plain;
    padded.resize((plain.size() + block - 1) / block * block, filler);
    return padded;
}

// ECB or CBC from a zero chaining block, one EncryptBlock at a time.
ByteString ReferenceEncrypt(const XBlockCipher& cipher, int32_t mode, const ByteString& padded)
{
    const uint32_t b = cipher.BlockSize();
    ByteString out(padded.size());
    uint8_t chain[XBlockCipher::kMaxBlockSize] = {};
    uint8_t work[XBlockCipher::kMaxBlockSize];
    for (size_t i = 0; i < padded.size(); i += b) {
        for (uint32_t j = 0; j < b; ++j)
            work[j] = padded[i + j] ^ (mode == XBlockCipher::kModeCbc ? chain[j] : 0);
        cipher.EncryptBlock(work, out.data() + i);
        std::memcpy(chain, out.data() + i, b);
    }
    return out;
}

ByteString ChainOf(const XBlockCipher& cipher)
{
    return ByteString(cipher.Chain(), cipher.Chain() + cipher.BlockSize());
}

void SelectAes(bool aesNi)
{
    // Both exist on the CPUs these targets run on; on others the portable
    // code simply runs twice.
    const AesEngine wanted = aesNi && AesEngineAvailable(AesEngine::kAesNi) ? AesEngine::kAesNi : AesEngine::kPortable;
    FUZZ_CHECK(AesSelectEngine(wanted));
    FUZZ_CHECK(AesActiveEngine() == wanted);
}

// ECB decryption one DecryptBlock at a time.
ByteString ReferenceDecryptEcb(const XBlockCipher& cipher, const ByteString& in)
{
    const uint32_t b = cipher.BlockSize();
    ByteString out(in.size());
    for (size_t i = 0; i < in.size(); i += b)
        cipher.DecryptBlock(in.data() + i, out.data() + i);
    return out;
}

// What the record says about rounds and key length, as the engines report it.
void CheckAccessors(int engine, const XBlockCipher& cipher, const ByteString& record)
{
    if (engine == kAes)
        FUZZ_CHECK(static_cast<const XAes&>(cipher).Rounds() == ReadBe32(record, 0));
    else if (engine == kCast)
        FUZZ_CHECK(static_cast<const XCast&>(cipher).Rounds() == ReadBe32(record, 0));
    else if (engine == kBlowfish)
        FUZZ_CHECK(static_cast<const XBlowfish&>(cipher).KeyLength() == ReadBe32(record, 0));
}

// A refused record: the alarm names the engine, and nothing changed.
void CheckRefused(const XAlarm& alarm, int engine)
{
    fuzz::CheckAlarmText(alarm);
    FUZZ_CHECK(fuzz::Is(alarm, XMessage::kDataCorrupted, kSourceNames[engine]));
}

// Loads a record into a fresh engine; null when refused.
std::unique_ptr<XBlockCipher> Loaded(int engine, const ByteString& record)
{
    auto cipher = NewEngine(engine);
    try {
        cipher->SetKey(Blob(record));
    } catch (const XAlarm& alarm) {
        CheckRefused(alarm, engine);
        FUZZ_CHECK(!cipher->KeyReady());
        return nullptr;
    }
    return cipher;
}

// One block under the key, independent of any chaining state.
ByteString Probe(const XBlockCipher& cipher)
{
    static const uint8_t block[XBlockCipher::kMaxBlockSize] = {0x5a, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    ByteString out(cipher.BlockSize());
    cipher.EncryptBlock(block, out.data());
    return out;
}

// Record engine promises beyond acceptance: CAST's round count, TripleDES's
// parity bits and its two-key identities.
void CheckRecordEquivalences(int engine, const ByteString& record, const XBlockCipher& cipher)
{
    if (engine == kCast) {
        // Any round count but 16 is the 12-round cipher.
        const uint32_t rounds = ReadBe32(record, 0);
        if (rounds != 16) {
            ByteString other(record.begin(), record.begin() + 20);
            std::copy_n(Be32(rounds == 12 ? 0xFFFFFFFFu : 12).begin(), 4, other.begin());
            auto again = Loaded(engine, other);
            FUZZ_CHECK(again && Probe(*again) == Probe(cipher));
        }
    } else if (engine == kTripleDes) {
        // The low bit of every key byte is parity, which DES ignores.
        ByteString flipped(record.begin(), record.begin() + 24);
        for (size_t i = 0; i < 24; ++i)
            flipped[i] ^= uint8_t((record[i] >> 3) & 1);
        auto parity = Loaded(engine, flipped);
        FUZZ_CHECK(parity && Probe(*parity) == Probe(cipher));
        // E(K3, D(K1, E(K1, x))) is E(K3, x): K1, K1, K3 is single DES
        // under K3, the same as K3, K3, K3.
        ByteString twoKey(record.begin(), record.begin() + 24), single(24);
        std::copy_n(twoKey.begin(), 8, twoKey.begin() + 8);
        for (size_t i = 0; i < 24; ++i)
            single[i] = record[16 + i % 8];
        auto a = Loaded(engine, twoKey), b = Loaded(engine, single);
        FUZZ_CHECK(a && b && Probe(*a) == Probe(*b));
    }
}

// Damaged Blowfish tables: a changed word always fails the checksum; with
// the checksum made to match again (by the last S-box word) the known-answer
// test may still catch it.  Either way the key loaded before stays.
void CheckDamagedTables(TableBlowfish& cipher, uint32_t damage, const ByteString& material)
{
    const ByteString before = Bytes(cipher.GetKey());
    const ByteString probe = Probe(cipher);
    auto tables = std::make_unique<XBlowfishConstants>(kBlowfishConstants);
    constexpr size_t kWords = 18 + 4 * 256;
    // Any word but the last S-box word, which the repair below sets; a
    // non-zero byte of the damage field XORed into one of its four bytes.
    const size_t index = ((damage >> 8) & 0xFFFFF) % (kWords - 1);
    const uint32_t flip = ((damage & 0xFF) ? (damage & 0xFF) : 1) << ((damage >> 30) * 8);
    uint32_t* word = index < 18 ? &tables->p[index] : &tables->s[(index - 18) / 256][(index - 18) % 256];
    *word ^= flip;
    const bool repair = damage & (1u << 28);
    if (repair) {
        // The checksum as the key schedule computes it, over the damaged
        // tables with their last word taken as 0, then that word set so the
        // sum comes out right again.
        uint32_t sum = 0;
        auto rotl = [](uint32_t v, unsigned n) { return (v << n) | (v >> (32 - n)); };
        for (int i = 0; i < 18; ++i)
            sum = rotl(sum, 1) + tables->p[i];
        for (int b = 0; b < 4; ++b)
            for (int i = 0; i < 256; ++i)
                sum = rotl(sum * 13, 11) + ((b == 3 && i == 255) ? 0 : tables->s[b][i]);
        tables->s[3][255] = XBlowfish::kConstantsChecksum - sum;
    }
    cipher.tables = tables.get();
    bool raised = false;
    try {
        cipher.MakeKey(Blob(material), uint32_t(material.size()));
    } catch (const XAlarm& alarm) {
        raised = true;
        fuzz::CheckAlarmText(alarm);
        FUZZ_CHECK(fuzz::Is(alarm, XMessage::kInvalidKey, "Blowfish") ||
                   fuzz::Is(alarm, XMessage::kUnableToDecrypt, "Blowfish"));
        FUZZ_CHECK(Bytes(cipher.GetKey()) == before);
        FUZZ_CHECK(Probe(cipher) == probe);
    }
    if (!repair)
        FUZZ_CHECK(raised);
    cipher.tables = &kBlowfishConstants;
}

// The cipher table the PGP layer goes by: each row finds itself by id, its
// engine has the row's block size, and a key made for the row's key size is
// that long; ids not in the table find nothing.
void CheckCipherTable(const ByteString& material, uint8_t filler, uint8_t someId)
{
    size_t count = 0;
    const XCipherAlgorithm* rows = CipherAlgorithms(count);
    bool listed = false;
    for (size_t i = 0; i < count; ++i) {
        const XCipherAlgorithm& row = rows[i];
        listed = listed || row.pgpId == someId;
        FUZZ_CHECK(FindCipherAlgorithm(row.pgpId) == &row);
        FUZZ_CHECK(i == 0 || rows[i - 1].pgpId < row.pgpId);
        auto cipher = row.make();
        FUZZ_CHECK(cipher->BlockSize() == row.blockSize);
        cipher->filler = filler;
        cipher->MakeKey(Blob(material), row.keySize);
        // Every record but TripleDES's has a 4-byte header before the key.
        const size_t header = row.pgpId == 2 ? 0 : 4;
        FUZZ_CHECK(cipher->GetKey().Length() == header + row.keySize);
    }
    FUZZ_CHECK((FindCipherAlgorithm(someId) != nullptr) == listed);
}

void CheckUnkeyed(int engine)
{
    auto cipher = NewEngine(engine);
    const XBlob some = Blob(ByteString(16, 0));
    for (int op = 0; op < 3; ++op) {
        try {
            if (op == 0)
                cipher->Encrypt(some);
            else if (op == 1)
                cipher->Decrypt(some);
            else
                cipher->GetKey();
            FUZZ_CHECK(false);
        } catch (const XAlarm& alarm) {
            fuzz::CheckAlarmText(alarm);
            // Encrypt and Decrypt name no engine; GetKey names its own.
            FUZZ_CHECK(fuzz::Is(alarm, XMessage::kInvalidKey, op == 2 ? kSourceNames[engine] : nullptr));
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    fuzz::Reader in(data, size);
    const uint8_t control = in.Byte();
    const int engine = (control & 7) % kEngines;
    const bool fromRecord = control & 0x08;
    const int modeChoice = (control >> 4) & 3;
    const bool aesNiFirst = control & 0x40;
    const bool damageTables = control & 0x80;
    const uint8_t filler = in.Byte();
    const uint32_t makeLength = in.Long();
    const int32_t modeValue = int32_t(in.Long());
    const uint8_t split = in.Byte();
    const uint32_t damage = in.Long();
    const ByteString keyPart = in.Part(), plain = in.Part(), cipherPart = in.Part(), secondRecord = in.Part();

    SelectAes(aesNiFirst);
    CheckUnkeyed(engine);
    CheckCipherTable(keyPart, filler, split);

    // Key the engine, from a record or from material.
    auto cipher = NewEngine(engine);
    cipher->filler = filler;
    if (fromRecord) {
        ByteString exported;
        const bool accept = ExpectedRecord(engine, keyPart, exported);
        try {
            cipher->SetKey(Blob(keyPart));
            FUZZ_CHECK(accept);
            FUZZ_CHECK(Bytes(cipher->GetKey()) == exported);
        } catch (const XAlarm& alarm) {
            CheckRefused(alarm, engine);
            FUZZ_CHECK(!accept);
            FUZZ_CHECK(!cipher->KeyReady());
            return 0;
        }
    } else {
        cipher->MakeKey(Blob(keyPart), makeLength);
        FUZZ_CHECK(Bytes(cipher->GetKey()) == ExpectedMadeRecord(engine, keyPart, makeLength, filler));
    }
    FUZZ_CHECK(cipher->KeyReady());
    const ByteString record = Bytes(cipher->GetKey());
    CheckAccessors(engine, *cipher, record);
    CheckRecordEquivalences(engine, record, *cipher);

    // A second engine from the exported record is the same cipher.
    auto twin = Loaded(engine, record);
    FUZZ_CHECK(twin);
    FUZZ_CHECK(Bytes(twin->GetKey()) == record);

    // The mode: ECB, CBC, a value Encrypt and Decrypt refuse, or Setup's mapping.
    int32_t mode;
    switch (modeChoice) {
    case 0: mode = XBlockCipher::kModeEcb; break;
    case 1: mode = XBlockCipher::kModeCbc; break;
    case 2: mode = (modeValue == 1 || modeValue == 2) ? 0 : modeValue; break;
    default:
        cipher->Setup(modeValue, filler);
        FUZZ_CHECK(cipher->mode == (modeValue == 2 ? 2 : 1));
        mode = cipher->mode;
        break;
    }
    cipher->mode = twin->mode = mode;
    cipher->filler = twin->filler = filler;
    const uint32_t b = cipher->BlockSize();
    if (mode != XBlockCipher::kModeEcb && mode != XBlockCipher::kModeCbc) {
        // Any other mode is refused by both directions (a ciphertext of whole
        // blocks gets that far), and the chaining block stays where it was.
        const ByteString chain = ChainOf(*cipher);
        const ByteString whole(plain.begin(), plain.begin() + plain.size() / b * b);
        for (bool encrypt : {true, false}) {
            bool refused = false;
            try {
                encrypt ? cipher->Encrypt(Blob(plain)) : cipher->Decrypt(Blob(whole));
            } catch (const XAlarm& alarm) {
                fuzz::CheckAlarmText(alarm);
                refused = fuzz::Is(alarm, XMessage::kUnsupportedAlgorithm, nullptr);
            }
            FUZZ_CHECK(refused);
        }
        FUZZ_CHECK(ChainOf(*cipher) == chain);
        return 0;
    }

    // Encrypt against the block-by-block reference, with the other AES code.
    const ByteString padded = Padded(plain, b, filler);
    const ByteString encrypted = Bytes(cipher->Encrypt(Blob(plain)));
    SelectAes(!aesNiFirst);
    FUZZ_CHECK(encrypted == ReferenceEncrypt(*twin, mode, padded));
    // The chaining block ends as the last block written.
    if (!encrypted.empty())
        FUZZ_CHECK(ChainOf(*cipher) == ByteString(encrypted.end() - b, encrypted.end()));

    // The same message in two calls continues one chain.
    auto halves = Loaded(engine, record);
    halves->mode = mode;
    halves->filler = filler;
    const size_t cut = std::min(plain.size() / b, size_t(split)) * b;
    ByteString joined = Bytes(halves->Encrypt(Blob(ByteString(plain.begin(), plain.begin() + cut))));
    const ByteString second = Bytes(halves->Encrypt(Blob(ByteString(plain.begin() + cut, plain.end()))));
    joined.insert(joined.end(), second.begin(), second.end());
    FUZZ_CHECK(joined == encrypted);

    // Decrypt undoes it, whole and in two calls (the twin's chain is still zero).
    const ByteString decrypted = Bytes(twin->Decrypt(Blob(encrypted)));
    FUZZ_CHECK(decrypted == padded);
    if (!encrypted.empty()) {
        // ECB: the last plaintext block; CBC: the last ciphertext block.
        const ByteString& last = mode == XBlockCipher::kModeEcb ? decrypted : encrypted;
        FUZZ_CHECK(ChainOf(*twin) == ByteString(last.end() - b, last.end()));
    }
    auto reader = Loaded(engine, record);
    reader->mode = mode;
    const size_t cipherCut = std::min(cut, encrypted.size());
    ByteString pieces = Bytes(reader->Decrypt(Blob(ByteString(encrypted.begin(), encrypted.begin() + cipherCut))));
    const ByteString rest = Bytes(reader->Decrypt(Blob(ByteString(encrypted.begin() + cipherCut, encrypted.end()))));
    pieces.insert(pieces.end(), rest.begin(), rest.end());
    FUZZ_CHECK(pieces == decrypted);

    // The engine's batched block functions, in place and out of place,
    // against the framework's generic ones (one block at a time) and
    // DecryptBlock.
    if (padded.size()) {
        const size_t blocks = padded.size() / b;
        ByteString inPlace = padded, outOfPlace(padded.size()), generic(padded.size());
        twin->EncryptBlocks(padded.data(), outOfPlace.data(), blocks);
        twin->XBlockCipher::EncryptBlocks(padded.data(), generic.data(), blocks);
        FUZZ_CHECK(outOfPlace == generic);
        twin->EncryptBlocks(inPlace.data(), inPlace.data(), blocks);
        FUZZ_CHECK(inPlace == outOfPlace);
        FUZZ_CHECK(ReferenceDecryptEcb(*twin, outOfPlace) == padded);
        twin->XBlockCipher::DecryptBlocks(outOfPlace.data(), generic.data(), blocks);
        FUZZ_CHECK(generic == padded);
        twin->DecryptBlocks(inPlace.data(), inPlace.data(), blocks);
        FUZZ_CHECK(inPlace == padded);
        // Chained from a fuzzer-chosen chaining block, both ways.
        uint8_t chainA[XBlockCipher::kMaxBlockSize], chainB[XBlockCipher::kMaxBlockSize];
        for (uint32_t j = 0; j < b; ++j)
            chainA[j] = chainB[j] = uint8_t(filler + j * split);
        twin->EncryptBlocksChained(padded.data(), outOfPlace.data(), blocks, chainA);
        twin->XBlockCipher::EncryptBlocksChained(padded.data(), generic.data(), blocks, chainB);
        FUZZ_CHECK(outOfPlace == generic);
        FUZZ_CHECK(std::equal(chainA, chainA + b, chainB));
        FUZZ_CHECK(std::equal(chainA, chainA + b, outOfPlace.end() - b));
    }

    // Fuzzer ciphertext: whole blocks decrypt and encrypt back; anything
    // else is refused and leaves the chaining block alone.
    {
        auto d = Loaded(engine, record), e = Loaded(engine, record);
        d->mode = e->mode = mode;
        const ByteString chainBefore = ChainOf(*d);
        try {
            const ByteString p = Bytes(d->Decrypt(Blob(cipherPart)));
            FUZZ_CHECK(cipherPart.size() % b == 0);
            FUZZ_CHECK(p.size() == cipherPart.size());
            FUZZ_CHECK(Bytes(e->Encrypt(Blob(p))) == cipherPart);
        } catch (const XAlarm& alarm) {
            fuzz::CheckAlarmText(alarm);
            FUZZ_CHECK(fuzz::Is(alarm, XMessage::kUnableToDecrypt, nullptr));
            FUZZ_CHECK(cipherPart.size() % b != 0);
            FUZZ_CHECK(ChainOf(*d) == chainBefore);
        }
    }

    // A second record on the keyed engine: refused ones change nothing.
    {
        const ByteString probe = Probe(*cipher);
        ByteString exported;
        const bool accept = ExpectedRecord(engine, secondRecord, exported);
        try {
            cipher->SetKey(Blob(secondRecord));
            FUZZ_CHECK(accept);
            FUZZ_CHECK(Bytes(cipher->GetKey()) == exported);
        } catch (const XAlarm& alarm) {
            CheckRefused(alarm, engine);
            FUZZ_CHECK(!accept);
            FUZZ_CHECK(Bytes(cipher->GetKey()) == record);
            FUZZ_CHECK(Probe(*cipher) == probe);
        }
    }

    if (engine == kBlowfish && damageTables)
        CheckDamagedTables(static_cast<TableBlowfish&>(*twin), damage, keyPart);
    return 0;
}
