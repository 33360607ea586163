#pragma once
// The one way the windows show a message box or open a web link. Tests put a recorder in its
// place, so they see which text and icon were shown without a modal box blocking them.

#include <QString>
#include <QUrl>

class QWidget;

enum class TBox_Icon { Error, Question, Information };

struct TUi_Seam { // replaced by tests; default shows real boxes / opens the browser
    virtual ~TUi_Seam() = default;
    virtual void Message(QWidget* Parent, const QString& Text, TBox_Icon Icon) = 0; // one OK button
    virtual bool Ask_Yes_No(QWidget* Parent, const QString& Text) = 0;              // true for Yes
    virtual void Open_Link(const QUrl& Url) = 0;
};

TUi_Seam& Ui_Seam();              // the one in use
void Set_Ui_Seam(TUi_Seam* Seam); // nullptr restores the default
