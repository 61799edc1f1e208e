// Arbitrary bytes into the configuration and record decoders, as a unit or a cable might send
// them: decoding never reads outside the bytes given, and what it yields is well-formed.

#include "config/ConfigFormat.h"
#include "records/RecordFormat.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int len = int(size > 4096 ? 4096 : size);
    // A copy of exactly the given length, so the address sanitizer sees any read past the end.
    std::vector<unsigned char> copy(data, data + len);
    unsigned char* buf = copy.data();

    ConfigSettings settings;
    if (DecodeConfigAnswer(buf, len, &settings)) {
        if (settings.nCommands != 4 && settings.nCommands != 8)
            std::abort();
        if (settings.nAddress < 0 || settings.nAddress > 65535)
            std::abort();
        const auto block = EncodeConfigBlock(settings);
        // A decoded answer encodes back to its own bytes 2..8 (4-command units: groups 5-8 zero).
        if (block[0] != buf[2] || block[1] != buf[3])
            std::abort();
    }
    if (len >= 6) {
        (void)FormatReadDate(buf);
        (void)FormatReadTime(buf + 3);
        (void)FromBcd(buf[0]);
    }
    for (int chinese = 0; chinese < 2; ++chinese) {
        const QStringList lines = DecodeRecordAnswer(buf, len, chinese != 0);
        if (!lines.isEmpty()) {
            if (len != RecordAnswerLength(buf[1]) || lines.size() != buf[1])
                std::abort();
            const QByteArray file = RecordFileContent(int(lines.size()), lines, chinese != 0);
            if (file.isEmpty())
                std::abort();
        }
        if (len >= 8)
            (void)FormatRecordLine(len, buf, chinese != 0);
    }
    return 0;
}
