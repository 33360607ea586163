#pragma once
// The options window.

#include "options_host.h"

#include <QDialog>

class TFSoftOptions : public QDialog {
    Q_OBJECT
public:
    explicit TFSoftOptions(TOptions_Host& Host, QWidget* Parent = nullptr);
    void Set_Lang();

private:
    TOptions_Host& FHost;
};

extern TFSoftOptions* FSoftOptions;
