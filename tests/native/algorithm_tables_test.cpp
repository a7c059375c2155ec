// The hash and cipher tables against the engines they name: sizes as the
// engines report them, ids unique and in order, names unique and found,
// each row's functions doing what the row says, and the lookups by id
// refusing what is not there.
#include "cipher/ciphers.h"
#include "core/alarm.h"
#include "hash/digest.h"
#include "pgp/message.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

namespace {

using namespace test_support;

TEST(AlgorithmTables, HashRowsMatchTheirEngines)
{
    size_t count = 0;
    const XHashAlgorithm* rows = HashAlgorithms(count);
    ASSERT_GT(count, 0u);
    std::set<std::string> names;
    const XBlob message = BlobOf("The quick brown fox jumps over the lazy dog");
    for (size_t i = 0; i < count; ++i) {
        const XHashAlgorithm& row = rows[i];
        SCOPED_TRACE(row.name);
        if (i > 0 && row.pgpId != 0) {
            EXPECT_LT(rows[i - 1].pgpId, row.pgpId) << "ids in order, each once, before the rows without one";
            EXPECT_NE(rows[i - 1].pgpId, 0) << "rows without an id come last";
        }
        EXPECT_TRUE(names.insert(row.name).second);
        EXPECT_EQ(FindHashAlgorithmByName(row.name), &row);
        // What the keyed constructions rely on: their buffers hold any row's
        // digest and block, and a key hashed to a digest fits a block.
        EXPECT_LE(row.digestSize, kMaxDigestSize);
        EXPECT_LE(row.blockSize, kMaxDigestBlockSize);
        EXPECT_LE(row.digestSize, row.blockSize);
        auto context = row.newContext();
        EXPECT_EQ(context->Size(), row.digestSize);
        // The incremental context in two pieces equals the one-shot function.
        context->Update(message.Data(), 10);
        context->Update(message.Data() + 10, message.Length() - 10);
        const XBlob whole = row.oneShot(message);
        EXPECT_EQ(whole.Length(), row.digestSize);
        EXPECT_EQ(context->Finish(), whole);
        if (row.pgpId == 0)
            continue;
        EXPECT_EQ(FindHashAlgorithm(row.pgpId), &row);
        EXPECT_EQ(HashFunctionById(row.pgpId), row.oneShot);
        EXPECT_EQ(HashSizeById(row.pgpId), row.digestSize);
    }
    // Ids the table does not have are refused by every lookup; 0 finds none
    // of the rows without an id.
    EXPECT_EQ(FindHashAlgorithm(0), nullptr);
    for (unsigned id : {0u, 4u, 13u, 255u}) {
        if (FindHashAlgorithm(uint8_t(id)))
            continue;
        EXPECT_TRUE(RaisesAlarm([&] { HashFunctionById(uint8_t(id)); }, XMessage::kUnsupportedAlgorithm, nullptr)) << id;
        EXPECT_TRUE(RaisesAlarm([&] { HashSizeById(uint8_t(id)); }, XMessage::kUnsupportedAlgorithm, nullptr)) << id;
        EXPECT_TRUE(RaisesAlarm([&] { NewDigestById(uint8_t(id)); }, XMessage::kUnsupportedAlgorithm, nullptr)) << id;
    }
}

TEST(AlgorithmTables, CipherRowsMatchTheirEngines)
{
    size_t count = 0;
    const XCipherAlgorithm* rows = CipherAlgorithms(count);
    ASSERT_GT(count, 0u);
    std::set<std::string> names;
    for (size_t i = 0; i < count; ++i) {
        const XCipherAlgorithm& row = rows[i];
        SCOPED_TRACE(row.name);
        if (i > 0) {
            EXPECT_LT(rows[i - 1].pgpId, row.pgpId) << "ids in order, each once";
        }
        EXPECT_TRUE(names.insert(row.name).second);
        EXPECT_EQ(FindCipherAlgorithm(row.pgpId), &row);
        auto engine = row.make();
        EXPECT_EQ(engine->BlockSize(), row.blockSize);
        EXPECT_LE(row.blockSize, XBlockCipher::kMaxBlockSize);
        // A key of the row's size is taken whole: the record ends with it.
        XBlob key;
        for (uint32_t b = 0; b < row.keySize; ++b)
            key.AppendByte(uint8_t(b * 7 + 1));
        engine->MakeKey(key, row.keySize);
        const XBlob record = engine->GetKey();
        ASSERT_GE(record.Length(), row.keySize);
        EXPECT_EQ(0, std::memcmp(record.Data() + record.Length() - row.keySize, key.Data(), row.keySize));
        // The PGP layer's lookups read the same row.
        EXPECT_EQ(XPgpMessage::KeySizeById(row.pgpId), row.keySize);
        EXPECT_EQ(XPgpMessage::BlockSizeById(row.pgpId), row.blockSize);
        EXPECT_EQ(XPgpMessage::CipherById(row.pgpId)->BlockSize(), row.blockSize);
    }
    EXPECT_EQ(FindCipherAlgorithm(0), nullptr);
    EXPECT_EQ(FindCipherAlgorithm(1), nullptr);
    EXPECT_EQ(FindCipherAlgorithm(255), nullptr);
}

} // namespace
