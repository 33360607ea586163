#include "ui_seam.h"

#include "UComon.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>

namespace {

struct TDefault_Ui_Seam final : TUi_Seam {
    void Message(QWidget* Parent, const QString& Text, TBox_Icon Icon) override {
        const QMessageBox::Icon Box_Icon = Icon == TBox_Icon::Error      ? QMessageBox::Critical
                                           : Icon == TBox_Icon::Question ? QMessageBox::Question
                                                                         : QMessageBox::Information;
        QMessageBox Box(Box_Icon, SW_Title, Text, QMessageBox::Ok, Parent);
        Box.exec();
    }
    bool Ask_Yes_No(QWidget* Parent, const QString& Text) override {
        QMessageBox Box(QMessageBox::Question, SW_Title, Text, QMessageBox::Yes | QMessageBox::No, Parent);
        return Box.exec() == QMessageBox::Yes;
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
