#include "ui_seam.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>

namespace {

QMessageBox::Icon box_icon(TBox_Icon Icon) {
    switch (Icon) {
    case TBox_Icon::Error:
        return QMessageBox::Critical;
    case TBox_Icon::Question:
        return QMessageBox::Question;
    case TBox_Icon::Information:
        return QMessageBox::Information;
    }
    return QMessageBox::NoIcon;
}

struct TDefault_Ui_Seam final : TUi_Seam {
    void Message(QWidget* Parent, const QString& Text, TBox_Icon Icon) override {
        // The box's title is the program's name, as a platform box without a caption shows it.
        QMessageBox box(box_icon(Icon), QApplication::applicationDisplayName(), Text, QMessageBox::Ok,
                        Parent);
        box.exec();
    }
    bool Ask_Yes_No(QWidget* Parent, const QString& Text) override {
        return QMessageBox::question(Parent, QApplication::applicationDisplayName(), Text,
                                     QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    }
    void Open_Link(const QUrl& Url) override { QDesktopServices::openUrl(Url); }
};

TDefault_Ui_Seam Default_Seam;
TUi_Seam* Current_Seam = &Default_Seam;

} // namespace

TUi_Seam& Ui_Seam() {
    return *Current_Seam;
}

void Set_Ui_Seam(TUi_Seam* Seam) {
    Current_Seam = Seam ? Seam : &Default_Seam;
}
