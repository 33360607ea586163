#pragma once
// Doubles shared by the options and About window tests: a seam that records instead of showing
// boxes or opening a browser, and a stand-in for the main window.

#include "UComon.h"
#include "ULanguage.h"
#include "USoftOptions.h"
#include "http_test_server.h"
#include "lang_apply.h"
#include "ui_seam.h"

#include <QByteArray>
#include <QList>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <optional>

struct TRecording_Ui_Seam final : TUi_Seam {
    struct TMessage {
        QString Text;
        TBox_Icon Icon;
    };
    QList<TMessage> Messages;
    QStringList Questions;
    bool Answer_Yes = true;
    QList<QUrl> Opened;

    TRecording_Ui_Seam() { Set_Ui_Seam(this); }
    ~TRecording_Ui_Seam() override { Set_Ui_Seam(nullptr); }
    void Message(QWidget*, const QString& Text, TBox_Icon Icon) override { Messages.append({Text, Icon}); }
    bool Ask_Yes_No(QWidget*, const QString& Text) override {
        Questions.append(Text);
        return Answer_Yes;
    }
    void Open_Link(const QUrl& Url) override { Opened.append(Url); }
};

// Stands for the main window: one control of its own string table, and its update timer with
// the enabling rule the options window relies on.
struct TFake_Host final : TOptions_Host {
    QWidget Main;
    QPushButton* Btn_Connect;
    TFSoftOptions* Options = nullptr;
    QTimer Timer_Update;

    TFake_Host() : Btn_Connect(new QPushButton(&Main)) {
        Btn_Connect->setObjectName("Btn_Connect");
        Timer_Update.setInterval(60'000);
    }
    void Change_Language() override {
        Apply_Lang_Targets(Main, Main_Lang_Targets);
        if (Options) Options->Set_Lang();
    }
    void Set_Update_Timer() override {
        if (Enable_Internet == 1 && Enable_Update == 1) {
            if (!Timer_Update.isActive()) Timer_Update.start();
        } else {
            Timer_Update.stop();
        }
    }
};

// Runs one check and waits for its answer with a bound far above any local round trip.
inline std::optional<bool> run_check(TUpdate_Check& Check, QObject& Context) {
    std::optional<bool> result;
    Check.Check_Version(&Context, [&result](bool Newer) { result = Newer; });
    (void)QTest::qWaitFor([&result] { return result.has_value(); }, 30'000);
    return result;
}

// The language folder and the settings values a test starts from.
inline void reset_program_state(const QString& Language_Folder) {
    Path_Language = Language_Folder;
    SW_Code = SW_Code_Const;
    Language_Name = QStringLiteral("English");
    Enable_Internet = 0;
    Enable_Update = 0;
    Load_Default_Strings();
}
