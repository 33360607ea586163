// Pictures of the options window's two tabs in every language of a folder, and of the About
// window, for looking at the layouts: options_screenshots OUTPUT_FOLDER LANGUAGE_FOLDER

#include "UAbout.h"
#include "UComon.h"
#include "ULanguage.h"
#include "USoftOptions.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QTabWidget>
#include <QTest>

#include <cstdio>

namespace {

struct TQuiet_Host final : TOptions_Host {
    void Change_Language() override {}
    void Set_Update_Timer() override {}
};

bool save(QWidget& Window, const QString& File) {
    (void)QTest::qWaitForWindowExposed(&Window);
    QApplication::processEvents();
    const bool ok = Window.grab().save(File);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(File));
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: options_screenshots OUTPUT_FOLDER LANGUAGE_FOLDER\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    Path_Language = QDir(QString::fromLocal8Bit(argv[2])).absolutePath();
    SW_Code = SW_Code_Const;
    Enable_Internet = 1;
    Enable_Update = 1;
    bool ok = true;
    TQuiet_Host host;
    const QStringList files =
        QDir(Path_Language).entryList({QStringLiteral("*.lng")}, QDir::Files, QDir::Name);
    for (const QString& file : files) {
        const QString language = file.left(file.size() - 4);
        Language_Name = language;
        Load_Language(Path_Language, Language_Name);
        TFSoftOptions options(host);
        options.show();
        ok &= save(options, out.filePath(QStringLiteral("options_language_%1.png").arg(language)));
        options.findChild<QTabWidget*>(QStringLiteral("PC_Options"))->setCurrentIndex(1);
        // as after a check that found a newer version, the longest text this tab shows
        auto* link = options.findChild<QLabel*>(QStringLiteral("LL_Check_Update"));
        Show_Download_Link(*link, Lang_Strings[leLL_Check_Update_New]);
        link->show();
        ok &= save(options, out.filePath(QStringLiteral("options_connection_%1.png").arg(language)));
    }
    TFAbout about;
    about.show();
    ok &= save(about, out.filePath(QStringLiteral("about.png")));
    return ok && !files.isEmpty() ? 0 : 1;
}
