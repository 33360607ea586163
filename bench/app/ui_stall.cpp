// The longest time the window's interface thread goes without turning its event loop during a
// 128 KiB firmware update (with read-back) against the paced simulated converter. Every handler
// runs on that thread, so this is the longest a click or a repaint can wait.

#include "UComon.h"
#include "UTessaroFirmWare.h"
#include "memory_map.h"
#include "sim_converter.h"
#include "ui_seam.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <ctime>

namespace {

// Processor time this thread has used: a gap long in wall time but short in this is time the
// system gave to other programs, not time a handler held the thread.
qint64 thread_cpu_ns() {
    timespec T{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &T);
    return static_cast<qint64>(T.tv_sec) * 1'000'000'000 + T.tv_nsec;
}

struct TQuiet_Seam final : TUi_Seam {
    void Message(QWidget*, const QString& Text, TBox_Icon) override {
        std::fprintf(stderr, "message: %s\n", qPrintable(Text));
    }
    bool Ask_Yes_No(QWidget*, const QString&) override { return false; }
    void Open_Link(const QUrl&) override {}
};

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication App(argc, argv);
    TQuiet_Seam Seam;
    Set_Ui_Seam(&Seam);

    QTemporaryDir Dir;
    QDir(Dir.path()).mkpath(QStringLiteral("PORTS"));
    QDir(Dir.path()).mkpath(QStringLiteral("MASTER"));
    QFile Image(Dir.filePath(QStringLiteral("MASTER/Sim40815.sim")));
    if (!Image.open(QIODevice::WriteOnly)) return 1;
    QByteArray Bytes(static_cast<qsizetype>(Prg_Size), '\0');
    for (qsizetype i = 0; i < Bytes.size(); ++i)
        Bytes[i] = static_cast<char>((i * 131 + i / 97) & 0xFF);
    Image.write(Bytes);
    Image.close();

    TSimOptions Options;
    Options.Pace = true;
    Options.Link = Dir.filePath(QStringLiteral("PORTS/COM9")).toStdString();
    TSimConverter Sim(Options);
    Sim.Start();

    TFTessaroFirmWare Window(Dir.path());
    Window.show();
    Window.CB_ComPort->setCurrentIndex(Window.CB_ComPort->findText(QStringLiteral("COM9")));
    Window.Btn_Connect->click();
    if (!Window.Connected()) {
        std::fprintf(stderr, "could not connect to the simulated converter\n");
        return 1;
    }
    Window.CB_Firm_Read->setChecked(true);

    // A zero timer fires at every turn of whichever event loop runs, the update's waits included.
    QElapsedTimer Clock;
    qint64 Last = 0;
    qint64 Longest = 0;
    long long Turns = 0;
    QString Longest_During;
    qint64 Last_Cpu = 0;
    qint64 Longest_Cpu = 0;
    long long Over_Limit = 0;
    QTimer Turn;
    QObject::connect(&Turn, &QTimer::timeout, [&] {
        const qint64 Now = Clock.nsecsElapsed();
        const qint64 Gap = Now - Last;
        const qint64 Cpu = thread_cpu_ns();
        if (Turns > 0 && Cpu - Last_Cpu > Longest_Cpu) Longest_Cpu = Cpu - Last_Cpu;
        Last_Cpu = Cpu;
        if (Turns++ > 0) {
            if (Gap > 50'000'000) ++Over_Limit;
            if (Gap > Longest) {
                Longest = Gap;
                Longest_During = Window.L_Status->text();
            }
        }
        Last = Now;
    });
    Clock.start();
    Turn.start(0);
    Window.Btn_UpdateFirm->click();
    Turn.stop();
    const double Seconds = Clock.nsecsElapsed() / 1e9;

    std::printf("update of %lld bytes with read-back: %.1f s, status \"%s\"\n",
                static_cast<long long>(Bytes.size()), Seconds, qPrintable(Window.L_Status->text()));
    std::printf("event-loop turns: %lld, longest gap between turns: %.1f ms (limit 50 ms), during \"%s\"; "
                "gaps over the limit: %lld\n",
                Turns, Longest / 1e6, qPrintable(Longest_During), Over_Limit);
    std::printf("longest processor time the interface thread used between two turns: %.1f ms\n",
                Longest_Cpu / 1e6);
    std::printf("load average at the end: %s\n",
                [] {
                    QFile Load(QStringLiteral("/proc/loadavg"));
                    return Load.open(QIODevice::ReadOnly) ? Load.readAll().trimmed().toStdString()
                                                          : std::string("?");
                }()
                    .c_str());
    Window.close();
    Set_Ui_Seam(nullptr);
    return 0;
}
