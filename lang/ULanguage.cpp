#include "ULanguage.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <iterator>

QStringList Lang_Strings;
std::int32_t Lang_Count = 0;

namespace {

// Blanks at either end are part of some texts; they are written here exactly as shown.
constexpr const char* Default_Strings[] = {
    "Information",
    "Options",
    "Close Configurator",
    " Select COM Port ",
    "COM Port:",
    "Refresh COM Port List",
    "Connect",
    "Disconnect",
    "Initialized",
    "Error in Init",
    " Serials Parameters ",
    "SERIAL Parameters",
    "Baudrate",
    "Parity",
    "M-BUS parameters",
    "Baudrate",
    "Parity",
    "Write Data",
    "Read Data",
    "Read Parameters",
    "Baudrate",
    "Parity",
    "Baudrate",
    "Parity",
    " Update Firmware ",
    "Update Firmware",
    "Read Firmware after write",
    "Progress:",
    "Software Options",
    "Software Options",
    "Language",
    "Connection Options",
    "Selected Language : ",
    "Page ",
    " / ",
    "Previous",
    "Next",
    "Enable Internet Connection",
    "Check Software Update at Start of Program",
    "Check Available Update",
    "OK",
    "Cancel",
    "New Version Available. Click Here for more Details",
    "No Update Available",
    "Do you want to change the Language from ",
    " to ",
    "?",
    "Disconnect",
    "Protection",
    "Error in Read Data!",
    "Error Firmware file don't exists. Reinstall the software",
    "Write Firmware",
    "Error in Write Firmware",
    "Read Firmware",
    "Error in Read Firmware",
    "Update Done",
    "Error after read",
    "New Version Available. Click Here for more Details",
};
static_assert(std::size(Default_Strings) == Lang_Entry_Count);

constexpr char16_t Pilcrow = u'\u00B6';

// A decimal whole number with an optional sign; anything else is no number.
bool to_whole_number(const QString& S, std::int32_t& Value) {
    qsizetype i = 0;
    bool negative = false;
    if (i < S.size() && (S[i] == u'+' || S[i] == u'-')) negative = S[i++] == u'-';
    if (i == S.size()) return false;
    std::int64_t v = 0;
    for (; i < S.size(); ++i) {
        const char16_t c = S[i].unicode();
        if (c < u'0' || c > u'9') return false;
        v = v * 10 + (c - u'0');
        if (v > INT32_MAX) return false;
    }
    Value = static_cast<std::int32_t>(negative ? -v : v);
    return true;
}

// Windows-1252 differs from Latin-1 only in 0x80..0x9F; its five unassigned bytes keep their
// own code, as Windows itself decodes them.
constexpr char16_t Cp1252_80_9F[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

QString decode_cp1252(const QByteArray& Data) {
    QString s(Data.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < Data.size(); ++i) {
        const auto b = static_cast<unsigned char>(Data[i]);
        s[i] = QChar(b >= 0x80 && b <= 0x9F ? Cp1252_80_9F[b - 0x80] : char16_t(b));
    }
    return s;
}

// The caller has cut the byte-order mark; a second one is text and must not be dropped too.
QString decode(QStringConverter::Encoding Encoding, const QByteArray& Data, bool* Valid = nullptr) {
    QStringDecoder decoder(Encoding,
                           QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    QString s = decoder.decode(Data);
    if (Valid) *Valid = !decoder.hasError();
    return s;
}

QString decode_lang_data(const QByteArray& Data) {
    if (Data.startsWith("\xEF\xBB\xBF")) return decode(QStringConverter::Utf8, Data.mid(3));
    if (Data.startsWith("\xFF\xFE")) return decode(QStringConverter::Utf16LE, Data.mid(2));
    if (Data.startsWith("\xFE\xFF")) return decode(QStringConverter::Utf16BE, Data.mid(2));
    // Without a mark: a file saved as UTF-8 on Linux reads as such; Windows-1252 bytes are
    // almost never valid UTF-8, so what fails is read in that code page.
    bool valid = false;
    QString s = decode(QStringConverter::Utf8, Data, &valid);
    return valid ? s : decode_cp1252(Data);
}

bool lang_file_exists(const QString& FileName) {
    return QFileInfo(FileName).isFile();
}

} // namespace

QString Trim_Low(const QString& S) {
    qsizetype first = 0;
    qsizetype last = S.size();
    while (first < last && S[first].unicode() <= 32)
        ++first;
    while (last > first && S[last - 1].unicode() <= 32)
        --last;
    return S.mid(first, last - first);
}

QStringList Lang_File_Lines(const QByteArray& Data) {
    const QString text = decode_lang_data(Data);
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != u'\r' && c != u'\n') continue;
        lines.append(text.mid(start, i - start));
        if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) lines.append(text.mid(start));
    return lines;
}

bool Parse_Lang_Line(const QString& Line, std::int32_t Count, std::int32_t& Entry, QString& Text) {
    const QString line = Trim_Low(Line);
    if (!line.startsWith(u"STR", Qt::CaseSensitive)) return false;
    const qsizetype equals = line.indexOf(u'=');
    if (equals < 0) return false;
    // The character just before "=" is the separator and is never read, even when it is a
    // digit: "STR12=x" addresses entry 1 and "STR5=x" nothing, so every file reads as it always has.
    const qsizetype number_length = equals - 4;
    if (number_length <= 0) return false;
    std::int32_t number = 0;
    if (!to_whole_number(Trim_Low(line.mid(3, number_length)), number)) return false;
    if (number < 0 || number >= Count) return false;

    QString text = Trim_Low(line.mid(equals + 1));
    if (text.isEmpty()) return false;
    const qsizetype comment = text.indexOf(u"/#/");
    if (comment >= 0) {
        text = Trim_Low(text.left(comment));
        if (text.isEmpty()) return false;
    }
    // Pilcrows keep blanks that trimming would take: the text runs from after an opening
    // pilcrow to the next one. Nothing is trimmed after this.
    if (text.startsWith(Pilcrow)) text.remove(0, 1);
    const qsizetype closing = text.indexOf(Pilcrow);
    if (closing >= 0) text.truncate(closing);

    Entry = number;
    Text = text;
    return true;
}

void Load_Default_Strings() {
    Lang_Strings.clear();
    for (const char* s : Default_Strings)
        Lang_Strings.append(QString::fromUtf8(s));
    Lang_Count = Lang_Entry_Count;
}

void Load_Lang_File(const QString& FileName) {
    QFile file(FileName);
    if (!file.open(QIODevice::ReadOnly)) return;
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError) return;

    std::int32_t entry = 0;
    QString text;
    for (const QString& line : Lang_File_Lines(data)) {
        if (Parse_Lang_Line(line, Lang_Count, entry, text) && entry < Lang_Strings.size())
            Lang_Strings[entry] = text;
    }
}

void Load_Language(const QString& Path_Language, QString& Language_Name) {
    Load_Default_Strings();
    const QString file_name = Path_Language + u'/' + Language_Name + QStringLiteral(".lng");
    if (lang_file_exists(file_name)) {
        Load_Lang_File(file_name);
        return;
    }
    // The caller's setting follows the fallback, so the settings file stops naming a language
    // that has no file.
    Language_Name = QStringLiteral("English");
    const QString english = Path_Language + QStringLiteral("/English.lng");
    if (lang_file_exists(english)) Load_Lang_File(english);
}

QString Lang_Page_Text(std::int32_t Page, std::int32_t Page_Count) {
    return Lang_Strings[leL_Page_Lang] + QString::number(Page) + Lang_Strings[leL_Page_Lang_Of] +
           QString::number(Page_Count);
}

QString Lang_Selected_Text(const QString& Language) {
    return Lang_Strings[leL_Sel_Lang] + Language;
}

QString Lang_Confirm_Text(const QString& From_Language, const QString& To_Language) {
    return Lang_Strings[leLang_Confirm_From] + From_Language + Lang_Strings[leLang_Confirm_To] + To_Language +
           Lang_Strings[leLang_Confirm_End];
}
