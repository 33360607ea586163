#pragma once
// What the main window's tests share: a program folder of their own, a recorder in place of the
// message boxes, the simulated converter pinned as COM9, and waits that keep the events running.

#include "UAbout.h"
#include "UComon.h"
#include "ULanguage.h"
#include "USoftOptions.h"
#include "UTessaroFirmWare.h"
#include "sim_converter.h"
#include "ui_seam.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

struct TShown_Box {
    QString Text;
    TBox_Icon Icon;
};

// Records every message box instead of showing it; questions are answered with Answer.
struct TBox_Recorder final : TUi_Seam {
    std::vector<TShown_Box> Boxes;
    std::vector<QUrl> Links;
    bool Answer = true;
    void Message(QWidget*, const QString& Text, TBox_Icon Icon) override { Boxes.push_back({Text, Icon}); }
    bool Ask_Yes_No(QWidget*, const QString& Text) override {
        Boxes.push_back({Text, TBox_Icon::Question});
        return Answer;
    }
    void Open_Link(const QUrl& Url) override { Links.push_back(Url); }
};

inline QString entry(TLang_Entry Entry) {
    return Lang_Strings.value(Entry);
}

// Runs Action once, from inside whatever event loop is running, as soon as Condition holds.
class TWhen : public QObject {
public:
    TWhen(std::function<bool()> Condition, std::function<void()> Action)
        : FCondition(std::move(Condition)), FAction(std::move(Action)) {
        connect(&FTimer, &QTimer::timeout, this, [this] {
            if (FDone || !FCondition()) return;
            FDone = true;
            FTimer.stop();
            FAction();
        });
        FTimer.start(2);
    }
    bool Done() const { return FDone; }

private:
    std::function<bool()> FCondition;
    std::function<void()> FAction;
    QTimer FTimer;
    bool FDone = false;
};

class TApp_Fixture {
public:
    TApp_Fixture() {
        Set_Ui_Seam(&Boxes);
        Folder = Dir.path();
    }
    ~TApp_Fixture() {
        Close_Window();
        if (Sim) Sim->Stop();
        Set_Ui_Seam(nullptr);
    }
    TApp_Fixture(const TApp_Fixture&) = delete;
    TApp_Fixture& operator=(const TApp_Fixture&) = delete;

    QString Path(const QString& Name) const { return QDir(Folder).filePath(Name); }
    void Write_File(const QString& Name, const QByteArray& Bytes) const {
        QDir().mkpath(QFileInfo(Path(Name)).path());
        QFile File(Path(Name));
        QVERIFY(File.open(QIODevice::WriteOnly));
        File.write(Bytes);
    }
    QByteArray Read_File(const QString& Name) const {
        QFile File(Path(Name));
        return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
    }

    // The simulated converter as COM9 in the folder's PORTS.
    TSimConverter& Start_Sim(TSimOptions Options = {}) {
        QDir().mkpath(Path(QStringLiteral("PORTS")));
        Options.Link = Path(QStringLiteral("PORTS/COM9")).toStdString();
        Sim = std::make_unique<TSimConverter>(std::move(Options));
        Sim->Start();
        return *Sim;
    }

    // The program start: main window, then About, then options.
    TFTessaroFirmWare& Open_Window() {
        Window = std::make_unique<TFTessaroFirmWare>(Folder);
        FTessaroFirmWare = Window.get();
        About = std::make_unique<TFAbout>(Window.get());
        FAbout = About.get();
        Options = std::make_unique<TFSoftOptions>(*Window, Window.get());
        FSoftOptions = Options.get();
        return *Window;
    }
    void Close_Window() {
        if (Window) Window->close();
        FSoftOptions = nullptr;
        FAbout = nullptr;
        Options.reset();
        About.reset();
        Window.reset();
    }

    // Opens the window on COM9 and connects.
    TFTessaroFirmWare& Connected_Window(TSimOptions Sim_Options = {}) {
        Start_Sim(std::move(Sim_Options));
        TFTessaroFirmWare& W = Open_Window();
        Select_Port(QStringLiteral("COM9"));
        W.Btn_Connect->click();
        return W;
    }
    void Select_Port(const QString& Name) {
        Window->CB_ComPort->setCurrentIndex(Window->CB_ComPort->findText(Name));
    }

    std::vector<std::uint8_t> Image_Bytes(std::size_t N, unsigned Seed = 1) const {
        std::vector<std::uint8_t> V(N);
        for (std::size_t i = 0; i < N; ++i)
            V[i] = static_cast<std::uint8_t>((i * 131 + Seed * 7 + i / 97) & 0xFF);
        return V;
    }
    void Write_Image(const std::vector<std::uint8_t>& Bytes) const {
        Write_File(
            QStringLiteral("MASTER/Sim40815.sim"),
            QByteArray(reinterpret_cast<const char*>(Bytes.data()), static_cast<qsizetype>(Bytes.size())));
    }
    QStringList Readback_Files() const {
        return QDir(Path(QStringLiteral("MASTER"))).entryList({QStringLiteral("*.b79")}, QDir::Files);
    }

    QTemporaryDir Dir;
    QString Folder;
    TBox_Recorder Boxes;
    std::unique_ptr<TSimConverter> Sim;
    std::unique_ptr<TFTessaroFirmWare> Window;
    std::unique_ptr<TFAbout> About;
    std::unique_ptr<TFSoftOptions> Options;
};
