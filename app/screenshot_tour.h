#pragma once
// Pictures of the real windows for people to look at: with SW40815_SCREENSHOTS=DIR the program
// walks its main window through a list of states, saves each as DIR/<name>.png and quits.
// The ports it uses are pinned by scripts/screenshots.sh: COM9 answers, COM3 does not open.

#include <QString>
#include <QWidget>

#include <functional>
#include <vector>

class TFTessaroFirmWare;

struct TTour_Step {
    QString Name;                                     // file name without ".png"
    std::function<QWidget*(TFTessaroFirmWare&)> Show; // brings the state about; returns what to grab
};

// The steps in the order they run; another window adds its own steps to this list.
std::vector<TTour_Step> Screenshot_Steps();

// Runs the steps, then closes the main window. False when a picture could not be saved.
bool Run_Screenshot_Tour(TFTessaroFirmWare& Main, const QString& Dir);
