#include "UAbout.h"

#include <QDialogButtonBox>
#include <QVBoxLayout>

TFAbout* FAbout = nullptr;

TFAbout::TFAbout(QWidget* Parent) : QDialog(Parent) {
    auto* Buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    (new QVBoxLayout(this))->addWidget(Buttons);
}
