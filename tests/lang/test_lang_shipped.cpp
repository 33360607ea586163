#include "lang_test_util.h"

#include <QDir>

#include <cstdlib>
#include <utility>

namespace {

// What the build copies into the program folder, and where it copies from.
const QString Language_Dir = QString::fromUtf8(SW_PROGRAM_LANGUAGE_DIR);
const QString Dist_Language_Dir = QString::fromUtf8(SW_DIST_LANGUAGE_DIR);

// Every language in the source folder, so that a language added later is checked too.
QStringList shipped_languages() {
    QStringList names;
    for (const QString& f : QDir(Dist_Language_Dir).entryList({"*.lng"}, QDir::Files))
        names << f.chopped(4);
    return names;
}

TEST(LangShipped, TheLanguagesWeShipAreCopiedBesideTheProgram) {
    const QStringList names = shipped_languages();
    for (const char* language : {"English", "Italiano", "Deutsch", "Français", "Español"})
        EXPECT_TRUE(names.contains(QString::fromUtf8(language))) << language;
    for (const QString& name : names) {
        for (const QString& file : {name + ".lng", name + ".bmp"}) {
            EXPECT_EQ(read_file(Language_Dir + '/' + file), read_file(Dist_Language_Dir + '/' + file))
                << file.toStdString();
        }
    }
}

TEST(LangShipped, EveryFileSetsAllEntriesWithNoLineSkipped) {
    const QStringList english = builtin_table();
    for (const QString& language : shipped_languages()) {
        SCOPED_TRACE(language.toStdString());
        const QString path = Language_Dir + '/' + language + ".lng";
        const QByteArray data = read_file(path);
        ASSERT_FALSE(data.isEmpty());
        std::map<int, QString> entries;
        for (const QString& line : Lang_File_Lines(data)) {
            if (!line.trimmed().startsWith("STR")) continue;
            std::int32_t entry = -1;
            QString text;
            ASSERT_TRUE(Parse_Lang_Line(line, Lang_Entry_Count, entry, text)) << line.toStdString();
            EXPECT_TRUE(entries.emplace(entry, text).second) << "entry " << entry << " given twice";
            EXPECT_FALSE(text.isEmpty()) << "entry " << entry;
        }
        ASSERT_EQ(entries.size(), 58u);
        for (const auto& [entry, text] : entries) {
            // Where the English text is joined to other words or framed by a group box, the
            // translation needs the same blanks.
            if (english[entry].startsWith(' ')) {
                EXPECT_TRUE(text.startsWith(' ')) << "entry " << entry << ": " << text.toStdString();
            }
            if (english[entry].endsWith(' ')) {
                EXPECT_TRUE(text.endsWith(' ')) << "entry " << entry << ": " << text.toStdString();
            }
        }
    }
}

TEST(LangShipped, EnglishFileRepeatsTheBuiltInTexts) {
    Load_Default_Strings();
    Lang_Strings.fill("x");
    Load_Lang_File(Language_Dir + "/English.lng");
    EXPECT_EQ(Lang_Strings, builtin_table());
}

// Width and height of a BMP file, or 0 x 0 when it is none.
std::pair<int, int> bmp_size(const QByteArray& Data) {
    if (Data.size() < 26 || !Data.startsWith("BM")) return {0, 0};
    auto le32 = [&](int At) {
        return std::int32_t(quint8(Data[At]) | quint8(Data[At + 1]) << 8 | quint8(Data[At + 2]) << 16 |
                            quint32(quint8(Data[At + 3])) << 24);
    };
    return {le32(18), std::abs(le32(22))};
}

TEST(LangShipped, EveryLanguageHasAFlagAndThereIsADefault) {
    const QStringList flags = shipped_languages() << "DefaultFlag";
    for (const QString& flag : flags) {
        SCOPED_TRACE(flag.toStdString());
        EXPECT_EQ(bmp_size(read_file(Language_Dir + '/' + flag + ".bmp")), std::make_pair(48, 48));
    }
}

} // namespace
