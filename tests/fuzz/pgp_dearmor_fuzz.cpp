// Fuzz target: Dearmor on arbitrary text.  It may refuse the text with
// "Data is corrupted" or "Data CRC error" and must do nothing else; what it
// accepts must survive Enarmor and Dearmor unchanged.  ReadLine, which the
// reader splits the text with, must cut it into lines without CR or LF
// whose ends (CR LF, LF or CR) make up the rest of the text.
#include "core/alarm.h"
#include "core/xblob.h"
#include "pgp/armor.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void CheckLines(const XBlob& text)
{
    std::string rebuilt, line;
    uint32_t pos = 0;
    while (pos < text.Length()) {
        const uint32_t next = ReadLine(text, pos, line);
        if (next <= pos || line.find_first_of("\r\n") != std::string::npos)
            std::abort();
        const std::string end(reinterpret_cast<const char*>(text.Data()) + pos + line.size(), next - pos - line.size());
        if (!(end.empty() ? next == text.Length() : (end == "\r\n" || end == "\n" || end == "\r")))
            std::abort();
        rebuilt += line + end;
        pos = next;
    }
    if (rebuilt != std::string(reinterpret_cast<const char*>(text.Data()), text.Length()))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    XBlob text;
    text.AppendBytes(data, uint32_t(size));
    CheckLines(text);
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
