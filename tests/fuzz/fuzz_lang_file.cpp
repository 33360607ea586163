// The language-file reader takes files that translators write by hand, in any encoding.

#include "ULanguage.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Load_Default_Strings();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
    const QByteArray Bytes(reinterpret_cast<const char*>(Data), static_cast<qsizetype>(Size));
    for (const QString& Line : Lang_File_Lines(Bytes)) {
        std::int32_t Entry = -1;
        QString Text;
        if (Parse_Lang_Line(Line, Lang_Count, Entry, Text) && (Entry < 0 || Entry >= Lang_Count))
            std::abort();
    }
    return 0;
}
