// sw40815: the configurator's window.

#include "UAbout.h"
#include "USoftOptions.h"
#include "UTessaroFirmWare.h"
#include "screenshot_tour.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char** argv) {
    QApplication App(argc, argv);
    TFTessaroFirmWare Main;
    FTessaroFirmWare = &Main;
    TFAbout About(&Main);
    FAbout = &About;
    TFSoftOptions Options(Main, &Main);
    FSoftOptions = &Options;
    Main.show();

    int Result = 0;
    const QString Screenshots = qEnvironmentVariable("SW40815_SCREENSHOTS");
    if (!Screenshots.isEmpty())
        QTimer::singleShot(0, &Main, [&] { Result = Run_Screenshot_Tour(Main, Screenshots) ? 0 : 1; });
    const int Exit = App.exec();
    FSoftOptions = nullptr;
    FAbout = nullptr;
    FTessaroFirmWare = nullptr;
    return Exit != 0 ? Exit : Result;
}
