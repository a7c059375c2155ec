// Fuzz target: Dearmor on arbitrary text.  It may refuse the text with
// "Data is corrupted" or "Data CRC error" and must do nothing else; what it
// accepts must survive Enarmor and Dearmor unchanged.
#include "core/alarm.h"
#include "core/xblob.h"
#include "pgp/armor.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    XBlob text;
    text.AppendBytes(data, uint32_t(size));
    XBlob message;
    try {
        message = Dearmor(text);
    } catch (const XCryptoAlarm& alarm) {
        if (std::strcmp(alarm.Message(), XMessage::kDataCorrupted) != 0 &&
            std::strcmp(alarm.Message(), XMessage::kDataCrcError) != 0)
            std::abort();
        return 0;
    }
    // Four base64 characters give at most three bytes.
    if (message.Length() > size)
        std::abort();

    const std::string armored = Enarmor(message);
    XBlob again;
    again.AppendBytes(armored.data(), uint32_t(armored.size()));
    if (!(Dearmor(again) == message))
        std::abort();
    return 0;
}
