#include "lang_test_util.h"

#include <QDir>
#include <QTemporaryDir>

namespace {

TEST(LangDefaults, FiftyEightEnglishTextsWithTheirBlanks) {
    Lang_Strings = {"left over"};
    Load_Default_Strings();
    ASSERT_EQ(Lang_Strings.size(), 58);
    EXPECT_EQ(Lang_Count, 58);
    // The texts that are joined to others or framed by a group box keep their blanks.
    const std::map<int, QString> padded = {
        {leGB_Select_COM, " Select COM Port "},
        {leGB_SerPar, " Serials Parameters "},
        {leGB_Firmware, " Update Firmware "},
        {leL_Sel_Lang, "Selected Language : "},
        {leL_Page_Lang, "Page "},
        {leL_Page_Lang_Of, " / "},
        {leLang_Confirm_From, "Do you want to change the Language from "},
        {leLang_Confirm_To, " to "},
        {leLang_Confirm_End, "?"},
    };
    for (const auto& [entry, text] : padded)
        EXPECT_EQ(Lang_Strings[entry], text) << "entry " << entry;
    EXPECT_EQ(Lang_Strings[leBtn_Info], "Information");
    EXPECT_EQ(Lang_Strings[leLL_Update], "New Version Available. Click Here for more Details");
}

TEST(LangDefaults, JoinedTexts) {
    Load_Default_Strings();
    EXPECT_EQ(Lang_Page_Text(2, 3), "Page 2 / 3");
    EXPECT_EQ(Lang_Selected_Text("Deutsch"), "Selected Language : Deutsch");
    EXPECT_EQ(Lang_Confirm_Text("English", "Deutsch"),
              "Do you want to change the Language from English to Deutsch?");
}

class LangLoad : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString folder() const { return dir.path(); }
    void put(const QString& Name, const QByteArray& Data) { write_file(dir.filePath(Name), Data); }

    // Loads Name from Folder and returns the table; Name receives what Load_Language leaves.
    QStringList load(QString& Name, const QString& Folder) {
        Lang_Strings = builtin_with({{6, "from an earlier language"}});
        Load_Language(Folder, Name);
        return Lang_Strings;
    }
};

TEST_F(LangLoad, NamedFileIsLoadedOverTheBuiltInTexts) {
    put("Deutsch.lng", "STR7 = Trennen");
    put("English.lng", "STR7 = not this one");
    QString name = "Deutsch";
    // nothing of the earlier language survives
    EXPECT_EQ(load(name, folder()), builtin_with({{7, "Trennen"}}));
    EXPECT_EQ(name, "Deutsch");
}

TEST_F(LangLoad, NameWithNonAsciiLetters) {
    put(QString::fromUtf8("Français.lng"), "STR7 = Déconnecter");
    QString name = QString::fromUtf8("Français");
    EXPECT_EQ(load(name, folder()), builtin_with({{7, QString::fromUtf8("Déconnecter")}}));
    EXPECT_EQ(name, QString::fromUtf8("Français"));
}

TEST_F(LangLoad, MissingFileFallsBackToEnglishFile) {
    put("English.lng", "STR7 = Log off");
    QString name = "Klingon";
    EXPECT_EQ(load(name, folder()), builtin_with({{7, "Log off"}}));
    EXPECT_EQ(name, "English");
}

TEST_F(LangLoad, MissingFileWithoutEnglishFileKeepsBuiltInTexts) {
    put("Deutsch.lng", "STR7 = Trennen");
    QString name = "Klingon";
    EXPECT_EQ(load(name, folder()), builtin_table());
    EXPECT_EQ(name, "English");
}

TEST_F(LangLoad, NoLanguageFolder) {
    QString name = "Deutsch";
    EXPECT_EQ(load(name, dir.filePath("LANGUAGE")), builtin_table());
    EXPECT_EQ(name, "English");
}

TEST_F(LangLoad, FolderNamedLikeALanguageFileIsNoFile) {
    ASSERT_TRUE(QDir(folder()).mkdir("Deutsch.lng"));
    put("English.lng", "STR7 = Log off");
    QString name = "Deutsch";
    EXPECT_EQ(load(name, folder()), builtin_with({{7, "Log off"}}));
    EXPECT_EQ(name, "English");
}

} // namespace
