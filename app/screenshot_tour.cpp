#include "screenshot_tour.h"

#include "UAbout.h"
#include "UComon.h"
#include "ULanguage.h"
#include "USoftOptions.h"
#include "UTessaroFirmWare.h"
#include "update_check.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QThread>
#include <QTimer>

#include <cstdio>

namespace {

const QString Good_Port = QStringLiteral("COM9");
const QString Bad_Port = QStringLiteral("COM3");

void settle() {
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(20);
    }
}

void select_port(TFTessaroFirmWare& Main, const QString& Port) {
    Main.ReFresh_ComList();
    Main.CB_ComPort->setCurrentIndex(Main.CB_ComPort->findText(Port));
}

void use_language(TFTessaroFirmWare& Main, const QString& Name) {
    Language_Name = Name;
    Load_Language(Path_Language, Language_Name);
    Main.Change_Language();
}

TTour_Step language_step(const QString& Name) {
    return {QStringLiteral("start_") + Name, [Name](TFTessaroFirmWare& Main) -> QWidget* {
                use_language(Main, Name);
                return &Main;
            }};
}

// The options window on both tabs, in the language the main window has just taken; the
// connection tab as after a check that found a newer version, its longest text.
std::vector<TTour_Step> options_steps(const QString& Name) {
    return {{QStringLiteral("options_language_") + Name,
             [](TFTessaroFirmWare&) -> QWidget* {
                 FSoftOptions->show();
                 return FSoftOptions;
             }},
            {QStringLiteral("options_connection_") + Name, [](TFTessaroFirmWare&) -> QWidget* {
                 FSoftOptions->show();
                 FSoftOptions->findChild<QTabWidget*>(QStringLiteral("PC_Options"))->setCurrentIndex(1);
                 auto* Link = FSoftOptions->findChild<QLabel*>(QStringLiteral("LL_Check_Update"));
                 Show_Download_Link(*Link, Lang_Strings[leLL_Check_Update_New]);
                 Link->show();
                 return FSoftOptions;
             }}};
}

} // namespace

std::vector<TTour_Step> Screenshot_Steps() {
    std::vector<TTour_Step> Steps;
    Steps.push_back({QStringLiteral("start"), [](TFTessaroFirmWare& Main) -> QWidget* { return &Main; }});
    const QString Saved_Language = Language_Name;
    for (const QString& File :
         QDir(Path_Language).entryList({QStringLiteral("*.lng")}, QDir::Files, QDir::Name)) {
        Steps.push_back(language_step(File.chopped(4)));
        for (const TTour_Step& Step : options_steps(File.chopped(4)))
            Steps.push_back(Step);
    }
    Steps.push_back({QStringLiteral("about"), [](TFTessaroFirmWare&) -> QWidget* {
                         FAbout->show();
                         return FAbout;
                     }});
    Steps.push_back({QStringLiteral("connect_failed"), [Saved_Language](TFTessaroFirmWare& Main) -> QWidget* {
                         use_language(Main, Saved_Language);
                         select_port(Main, Bad_Port);
                         Main.Btn_Connect->click();
                         return &Main;
                     }});
    Steps.push_back({QStringLiteral("connected_read"), [](TFTessaroFirmWare& Main) -> QWidget* {
                         select_port(Main, Good_Port);
                         Main.Btn_Connect->click();
                         Main.Btn_ReadData->click();
                         return &Main;
                     }});
    Steps.push_back({QStringLiteral("update_progress"), [](TFTessaroFirmWare& Main) -> QWidget* {
                         // The picture is taken from inside the update's own wait, once the bar
                         // is part-way; the step returns when the update has ended.
                         static QImage Part_Way;
                         Part_Way = QImage();
                         QTimer Watch;
                         QObject::connect(&Watch, &QTimer::timeout, [&Main, &Watch] {
                             if (Main.GPB->value() >= 30 && Main.GPB->value() <= 80) {
                                 Part_Way = Main.grab().toImage();
                                 Watch.stop();
                             }
                         });
                         Watch.start(20);
                         Main.CB_Firm_Read->setChecked(true);
                         Main.Btn_UpdateFirm->click();
                         Watch.stop();
                         auto* Frozen = new QLabel;
                         Frozen->setAttribute(Qt::WA_DeleteOnClose);
                         Frozen->setPixmap(QPixmap::fromImage(Part_Way));
                         Frozen->resize(Part_Way.size());
                         return Frozen;
                     }});
    Steps.push_back(
        {QStringLiteral("update_done"), [](TFTessaroFirmWare& Main) -> QWidget* { return &Main; }});
    return Steps;
}

bool Run_Screenshot_Tour(TFTessaroFirmWare& Main, const QString& Dir) {
    QDir().mkpath(Dir);
    bool All_Saved = true;
    for (const TTour_Step& Step : Screenshot_Steps()) {
        QWidget* Target = Step.Show(Main);
        settle();
        const QString File = QDir(Dir).filePath(Step.Name + QStringLiteral(".png"));
        const bool Saved = Target->grab().save(File);
        All_Saved = All_Saved && Saved;
        std::fprintf(stderr, "%s %s\n", Saved ? "saved" : "could not save", qPrintable(File));
        if (Target != &Main) Target->close();
    }
    Main.close();
    return All_Saved;
}
