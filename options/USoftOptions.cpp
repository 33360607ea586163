#include "USoftOptions.h"

#include <QDialogButtonBox>
#include <QVBoxLayout>

TFSoftOptions* FSoftOptions = nullptr;

TFSoftOptions::TFSoftOptions(TOptions_Host& Host, QWidget* Parent) : QDialog(Parent), FHost(Host) {
    auto* Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    (new QVBoxLayout(this))->addWidget(Buttons);
    Set_Lang();
}

void TFSoftOptions::Set_Lang() {}
