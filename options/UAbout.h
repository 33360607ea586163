#pragma once
// The About window.

#include <QDialog>

class TFAbout : public QDialog {
    Q_OBJECT
public:
    explicit TFAbout(QWidget* Parent = nullptr);
};

extern TFAbout* FAbout;
