#include "lang_test_util.h"

#include <QTemporaryDir>

namespace {

class LangFile : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path() const { return dir.filePath("Test.lng"); }

    // The table after loading Data over the built-in texts.
    QStringList load(const QByteArray& Data) {
        write_file(path(), Data);
        Load_Default_Strings();
        Load_Lang_File(path());
        return Lang_Strings;
    }
};

struct Line_Case {
    const char* File; // UTF-8
    std::map<int, QString> Changes;
};

TEST_F(LangFile, LineRules) {
    const QString pilcrow_text = QString::fromUtf8(" Porta COM ");
    const Line_Case cases[] = {
        {"STR6 = Verbinden", {{6, "Verbinden"}}},
        {"STR3 = ¶ Porta COM ¶", {{3, pilcrow_text}}},
        {"STR3 =    Porta COM   ", {{3, "Porta COM"}}},
        {"STR12 = Baud /#/ label of the serial side", {{12, "Baud"}}},
        {"STR 40 = Va bene", {{40, "Va bene"}}},
        {"STR1\t= tab as separator", {{1, "tab as separator"}}},
        // the character before "=" is never part of the number
        {"STR12=Baud", {{1, "Baud"}}},
        {"STR5=Parity", {}},
        {"STR=x", {}},
        // range and number
        {"STR57 = last", {{57, "last"}}},
        {"STR0 = first", {{0, "first"}}},
        {"STR58 = x", {}},
        {"STR -1 = x", {}},
        {"STR 99999999999 = x", {}},
        {"STRx = y", {}},
        {"STR 1 2 = y", {}},
        {"STR6 Verbinden", {}},
        // only "STR" in capitals, after trimming, starts a data line
        {"str6 = x", {}},
        {"Str6 = x", {}},
        {"; STR6 = x", {}},
        {" \t STR6 = x \t ", {{6, "x"}}},
        {"\x01STR6 = x", {{6, "x"}}},
        {"\xc2\xa0STR6 = x", {}},
        // text after the first "="; control characters trim, a no-break space does not
        {"STR6 = a = b", {{6, "a = b"}}},
        {"STR6 = \x01x\x1f", {{6, "x"}}},
        {"STR6 = \xc2\xa0x", {{6, QString::fromUtf8("\xc2\xa0x")}}},
        // empty texts and comments leave the entry alone
        {"STR7 =", {}},
        {"STR7 =   \t", {}},
        {"STR7 = /#/ only a note", {}},
        {"STR7 = ¶ /#/ ¶", {{7, ""}}},
        // pilcrows
        {"STR9 = ¶", {{9, ""}}},
        {"STR9 = ¶¶", {{9, ""}}},
        {"STR9 = ¶  ¶", {{9, "  "}}},
        {"STR9 = ¶x¶ tail", {{9, "x"}}},
        {"STR9 = a¶b", {{9, "a"}}},
        {"STR2 = ¶ a /#/ b ¶", {{2, " a"}}},
        {"STR2 = ¶ a ¶ /#/ note", {{2, " a "}}},
        // several lines: independent, the last one for an entry wins
        {"STR6 = a\nSTR6 = b", {{6, "b"}}},
        {"STR6 = a\nSTR6 =\nSTR7 = c", {{6, "a"}, {7, "c"}}},
        {"[Heading]\n\nSTR6 = a\nnot a line\nSTR99 = z\nSTR8 = b", {{6, "a"}, {8, "b"}}},
    };
    for (const Line_Case& c : cases) {
        SCOPED_TRACE(c.File);
        EXPECT_EQ(load(QByteArray(c.File)), builtin_with(c.Changes));
    }
}

// Encodes Text in Windows-1252; only the characters this test uses are mapped.
QByteArray to_cp1252(const QString& Text) {
    QByteArray out;
    for (QChar c : Text) {
        if (c == u'\u20AC')
            out += '\x80';
        else if (c == u'\u0153')
            out += '\x9C';
        else if (c == u'\u2019')
            out += '\x92';
        else
            out += char(c.unicode());
    }
    return out;
}

QByteArray utf16(const QString& Text, bool Big_Endian) {
    QByteArray out;
    for (QChar c : Text) {
        const char hi = char(c.unicode() >> 8), lo = char(c.unicode() & 0xFF);
        out += Big_Endian ? hi : lo;
        out += Big_Endian ? lo : hi;
    }
    return out;
}

TEST_F(LangFile, EveryEncodingAndLineEndGivesTheSameTable) {
    // Data on the first line, the three line ends, and characters where Windows-1252 and
    // Latin-1 differ.
    const QString text = QString::fromUtf8("STR6 = Verbündung\r\nSTR3 = ¶ Porta COM ¶\rSTR48 = 5 € l’œuf\n"
                                           "STR12 = Débit\r\n");
    const std::map<int, QString> changes = {{6, QString::fromUtf8("Verbündung")},
                                            {3, QString::fromUtf8(" Porta COM ")},
                                            {48, QString::fromUtf8("5 € l’œuf")},
                                            {12, QString::fromUtf8("Débit")}};
    const struct {
        const char* Name;
        QByteArray Data;
    } files[] = {
        {"UTF-8 with mark", "\xEF\xBB\xBF" + text.toUtf8()},
        {"UTF-16 LE with mark", "\xFF\xFE" + utf16(text, false)},
        {"UTF-16 BE with mark", "\xFE\xFF" + utf16(text, true)},
        {"UTF-8 without mark", text.toUtf8()},
        {"Windows-1252", to_cp1252(text)},
    };
    for (const auto& f : files) {
        SCOPED_TRACE(f.Name);
        EXPECT_EQ(load(f.Data), builtin_with(changes));
    }
}

TEST_F(LangFile, OnlyOneMarkIsTaken) {
    // A second mark is text, so the first line no longer starts with "STR".
    EXPECT_EQ(load("\xEF\xBB\xBF\xEF\xBB\xBFSTR6 = a\nSTR7 = b"), builtin_with({{7, "b"}}));
}

TEST_F(LangFile, UnreadableFileChangesNothing) {
    Load_Default_Strings();
    Lang_Strings[6] = "kept";
    const QStringList before = Lang_Strings;
    Load_Lang_File(dir.path()); // a folder: it exists but cannot be read as a file
    EXPECT_EQ(Lang_Strings, before);
    Load_Lang_File(dir.filePath("missing.lng"));
    EXPECT_EQ(Lang_Strings, before);
}

TEST_F(LangFile, NeverChangesTheNumberOfEntries) {
    // Before the table is filled nothing is in range; afterwards only existing entries change.
    Lang_Strings.clear();
    Lang_Count = 0;
    write_file(path(), "STR0 = a\nSTR57 = b\nSTR58 = c");
    Load_Lang_File(path());
    EXPECT_TRUE(Lang_Strings.isEmpty());
    Load_Default_Strings();
    Load_Lang_File(path());
    EXPECT_EQ(Lang_Strings.size(), 58);
    EXPECT_EQ(Lang_Count, 58);
}

} // namespace
