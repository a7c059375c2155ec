// Fuzz target: XBlob as the packing functions of the Misc object use it
// (InsertLongToBlob, ExtractLongFromBlob, InsertBlobToBlob,
// ExtractBlobFromBlob; see objects/misc.cpp), ExtractItem on arbitrary
// bytes, and the other edits the engines make: a program of operations on
// three blobs, each shadowed by a std::vector that says what it must hold.
// After every operation each blob holds exactly its shadow's bytes.  Beyond
// that:
//
// - ExtractItem takes a well-formed item (4-byte big-endian length, that
//   many bytes) and returns the position behind it; a malformed one raises
//   "Data is corrupted" - "XBlob", leaves the output empty and the blob
//   unchanged (also when the output is the blob itself);
// - an inserted long or item comes back out of the same position unchanged
//   and the blob is as before (the round trips a script makes);
// - a moved-from blob (no array at all) works as an empty one everywhere,
//   as target and as source.
//
// Input: a first byte choosing the blobs' starting contents (each empty,
// or a part of the input), then operations: an opcode byte and its fields.
#include "core/alarm.h"
#include "core/xblob.h"
#include "tests/fuzz/fuzz_support.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

using fuzz::Blob;
using fuzz::Bytes;

namespace {

using Model = std::vector<uint8_t>;

constexpr int kSlots = 3;
// Blobs stop growing here (self-insertion doubles them).
constexpr size_t kMaxLength = 1 << 16;

struct Slot {
    XBlob blob;
    Model model;
};

void CheckSlot(const Slot& s)
{
    FUZZ_CHECK(s.blob.Length() == s.model.size());
    FUZZ_CHECK(s.blob.Length() <= s.blob.Capacity() || s.blob.Data() == nullptr);
    FUZZ_CHECK(s.model.empty() || std::memcmp(s.blob.Data(), s.model.data(), s.model.size()) == 0);
}

Model Long(uint32_t v)
{
    return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}

Model Item(const Model& payload)
{
    Model item = Long(uint32_t(payload.size()));
    item.insert(item.end(), payload.begin(), payload.end());
    return item;
}

// Where an item would start at pos, whether it is well formed, and its end.
bool ModelItem(const Model& m, uint32_t pos, uint32_t& end)
{
    if (pos > m.size() || m.size() - pos < 4)
        return false;
    const uint32_t n = uint32_t(m[pos]) << 24 | uint32_t(m[pos + 1]) << 16 | uint32_t(m[pos + 2]) << 8 | m[pos + 3];
    if (n > m.size() - pos - 4)
        return false;
    end = pos + 4 + n;
    return true;
}

// ExtractItem on the slot into out (which may be the slot itself), checked
// against the model; returns whether it succeeded.
bool Extract(Slot& s, uint32_t pos, XBlob& out, Model& payload)
{
    uint32_t end = 0;
    const bool wellFormed = ModelItem(s.model, pos, end);
    const bool self = &out == &s.blob;
    try {
        const uint32_t next = s.blob.ExtractItem(pos, out);
        FUZZ_CHECK(wellFormed);
        FUZZ_CHECK(next == end);
        payload.assign(s.model.begin() + pos + 4, s.model.begin() + end);
        FUZZ_CHECK(Bytes(out) == payload);
        if (self)
            s.model = payload;
        return true;
    } catch (const XAlarm& alarm) {
        fuzz::CheckAlarmText(alarm);
        FUZZ_CHECK(fuzz::Is(alarm, XMessage::kDataCorrupted, "XBlob"));
        FUZZ_CHECK(!wellFormed);
        // The output is emptied, the blob (even as the output) unchanged.
        if (!self)
            FUZZ_CHECK(out.Length() == 0);
        CheckSlot(s);
        return false;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    fuzz::Reader in(data, size);
    Slot slots[kSlots];
    const uint8_t start = in.Byte();
    for (int i = 0; i < kSlots; ++i) {
        if (start & (1 << i)) {
            slots[i].model = in.Part();
            slots[i].blob = Blob(slots[i].model);
        }
    }

    for (int steps = 0; in.Left() > 0 && steps < 256; ++steps) {
        const uint8_t op = in.Byte();
        Slot& s = slots[(op >> 5) % kSlots];
        // Another blob: never s itself (operations on a blob with itself say so).
        Slot& other = slots[((op >> 5) + 1 + (op >> 7)) % kSlots];
        const uint32_t length = uint32_t(s.model.size());
        // Positions as a script gives them: 0 to the length; larger ones are
        // refused by the Misc object before the blob sees them.
        const uint32_t pos = in.Short() % (length + 1);

        switch (op & 0x1F) {
        case 0: { // InsertLongToBlob, and back out again
            const uint32_t value = in.Long();
            if (length + 4 > kMaxLength)
                break;
            XBlob number;
            number.AppendLong(value);
            s.blob.Insert(number, pos);
            const Model bytes = Long(value);
            s.model.insert(s.model.begin() + pos, bytes.begin(), bytes.end());
            CheckSlot(s);
            FUZZ_CHECK(s.blob.ReadLong(pos) == value);
            if (in.Byte() & 1) {
                s.blob.Erase(pos, 4);
                s.model.erase(s.model.begin() + pos, s.model.begin() + pos + 4);
            }
            break;
        }
        case 1: { // ExtractLongFromBlob: four bytes must stand at pos
            if (length - pos < 4)
                break;
            const uint32_t value = s.blob.ReadLong(pos);
            FUZZ_CHECK(Long(value) == Model(s.model.begin() + pos, s.model.begin() + pos + 4));
            s.blob.Erase(pos, 4);
            s.model.erase(s.model.begin() + pos, s.model.begin() + pos + 4);
            break;
        }
        case 2: { // InsertBlobToBlob (the item may be the target itself), and back out again
            if (length + 4 + other.model.size() > kMaxLength || length * 2 + 4 > kMaxLength)
                break;
            const bool self = in.Byte() & 1;
            const Model payload = self ? s.model : other.model;
            XBlob item;
            item.AppendItem(self ? s.blob : other.blob);
            s.blob.Insert(item, pos);
            const Model bytes = Item(payload);
            s.model.insert(s.model.begin() + pos, bytes.begin(), bytes.end());
            CheckSlot(s);
            if (in.Byte() & 1) {
                XBlob out;
                Model got;
                FUZZ_CHECK(Extract(s, pos, out, got));
                FUZZ_CHECK(got == payload);
                s.blob.Erase(pos, uint32_t(bytes.size()));
                s.model.erase(s.model.begin() + pos, s.model.begin() + pos + bytes.size());
            }
            break;
        }
        case 3: { // ExtractBlobFromBlob at any position: into a new blob, then erased
            XBlob out;
            out.AssignText("stale");
            Model payload;
            if (Extract(s, pos, out, payload)) {
                s.blob.Erase(pos, uint32_t(4 + payload.size()));
                s.model.erase(s.model.begin() + pos, s.model.begin() + pos + 4 + payload.size());
            }
            break;
        }
        case 4: { // ExtractItem into another blob, or into itself, at any position
            Model payload;
            if (op & 0x80) {
                // Positions past the end too, which ExtractItem refuses.
                const uint32_t anywhere = pos + in.Long();
                other.model = Extract(s, anywhere, other.blob, payload) ? payload : Model();
            } else if (in.Byte() & 1) {
                Extract(s, pos, s.blob, payload);
            } else {
                // A failed extraction leaves the output empty.
                other.model = Extract(s, pos, other.blob, payload) ? payload : Model();
            }
            break;
        }
        case 5: { // Insert another blob, or the blob itself
            const bool self = in.Byte() & 1;
            const Model add = self ? s.model : other.model;
            if (length + add.size() > kMaxLength)
                break;
            s.blob.Insert(self ? s.blob : other.blob, pos);
            s.model.insert(s.model.begin() + pos, add.begin(), add.end());
            break;
        }
        case 6: { // AppendBytes from inside the blob's own array
            const uint32_t count = in.Short() % (length - pos + 1);
            if (length + count > kMaxLength)
                break;
            s.blob.AppendBytes(s.blob.Data() ? s.blob.Data() + pos : nullptr, count);
            s.model.insert(s.model.end(), s.model.begin() + pos, s.model.begin() + pos + count);
            break;
        }
        case 7: { // Erase, the count possibly past the end
            const uint32_t count = in.Long();
            s.blob.Erase(pos, count);
            s.model.erase(s.model.begin() + pos, s.model.begin() + pos + std::min<uint64_t>(count, length - pos));
            break;
        }
        case 8: { // CopyRange onto the end of another blob (any position)
            const uint32_t from = in.Short();
            const uint32_t count = in.Short();
            if (other.model.size() + count > kMaxLength)
                break;
            s.blob.CopyRange(other.blob, from, count);
            if (from < length)
                other.model.insert(other.model.end(), s.model.begin() + from,
                                   s.model.begin() + std::min<uint64_t>(uint64_t(from) + count, length));
            break;
        }
        case 9: { // Xor into a third blob
            Slot& target = slots[((op >> 5) + 2) % kSlots];
            if (&target == &other)
                break;
            const Model& a = s.model;
            const Model& b = other.model;
            Model x(std::max(a.size(), b.size()));
            for (size_t i = 0; i < x.size(); ++i)
                x[i] = (i < a.size() ? a[i] : 0) ^ (i < b.size() ? b[i] : 0);
            target.blob = XBlob::Xor(s.blob, other.blob);
            target.model = x;
            break;
        }
        case 10: { // InsertByte anywhere, AppendByte
            const uint8_t b = in.Byte();
            if (length + 1 > kMaxLength)
                break;
            s.blob.InsertByte(b, pos);
            s.model.insert(s.model.begin() + pos, b);
            s.blob.AppendByte(uint8_t(~b));
            s.model.push_back(uint8_t(~b));
            break;
        }
        case 11: { // SetLength: shorter keeps a prefix; longer gets bytes written through At
            const uint32_t n = in.Short();
            if (n > kMaxLength)
                break;
            s.blob.SetLength(n);
            const size_t old = s.model.size();
            s.model.resize(n);
            for (size_t i = old; i < n; ++i) {
                s.model[i] = uint8_t(i * 31);
                s.blob.At(uint32_t(i)) = uint8_t(i * 31);
            }
            break;
        }
        case 12: // Move into another blob: the source is left with no array
            if (in.Byte() & 1) {
                other.blob = std::move(s.blob);
            } else {
                XBlob moved(std::move(s.blob));
                other.blob = std::move(moved);
            }
            other.model = std::move(s.model);
            s.model.clear();
            FUZZ_CHECK(s.blob.Length() == 0);
            break;
        case 13: // Copy: by assignment (keeps the target's array) or construction
            if (in.Byte() & 1) {
                s.blob = other.blob;
            } else {
                XBlob copy(other.blob);
                s.blob = std::move(copy);
            }
            s.model = other.model;
            break;
        case 14: { // AppendItem of itself or another, AppendLong
            const bool self = in.Byte() & 1;
            const Model add = Item(self ? s.model : other.model);
            if (length + add.size() + 4 > kMaxLength)
                break;
            s.blob.AppendItem(self ? s.blob : other.blob);
            s.model.insert(s.model.end(), add.begin(), add.end());
            const uint32_t v = in.Long();
            s.blob.AppendLong(v);
            const Model bytes = Long(v);
            s.model.insert(s.model.end(), bytes.begin(), bytes.end());
            break;
        }
        case 15: { // Grow keeps the bytes; Clear empties
            s.blob.Grow(in.Byte());
            CheckSlot(s);
            if (in.Byte() & 1) {
                s.blob.Clear();
                s.model.clear();
            }
            break;
        }
        case 16: { // AssignText; Equals against the model's idea of equality
            std::string text;
            for (uint8_t c = in.Byte(); c != 0 && in.Left() > 0; c = in.Byte())
                text += char(c);
            s.blob.AssignText(text.c_str());
            s.model.assign(text.begin(), text.end());
            CheckSlot(s);
            FUZZ_CHECK((s.blob == other.blob) == (s.model == other.model));
            FUZZ_CHECK((s.blob != other.blob) == (s.model != other.model));
            break;
        }
        case 17: { // CopyOut of a range that the blob holds
            const uint32_t count = in.Short() % (length - pos + 1);
            Model out(count + 1, 0xEE);
            s.blob.CopyOut(out.data(), count, pos);
            FUZZ_CHECK(std::equal(out.begin(), out.begin() + count, s.model.begin() + pos));
            FUZZ_CHECK(out[count] == 0xEE);
            break;
        }
        case 18: // Assign from another, or from itself
            if (in.Byte() & 1) {
                s.blob.Assign(s.blob);
            } else {
                s.blob.Assign(other.blob);
                s.model = other.model;
            }
            break;
        default: { // A constructed blob of a given capacity filled up by appends
            XBlob fresh(in.Byte());
            const Model bytes = in.Part();
            for (uint8_t b : bytes)
                fresh.AppendByte(b);
            s.blob = std::move(fresh);
            s.model = bytes;
            break;
        }
        }
        for (const Slot& slot : slots)
            CheckSlot(slot);
    }
    return 0;
}
