#include "lang_apply.h"

#include "ULanguage.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QTabWidget>

namespace {

void set_caption(QWidget& Control, const QString& Text) {
    if (auto* label = qobject_cast<QLabel*>(&Control))
        label->setText(Text);
    else if (auto* button = qobject_cast<QAbstractButton*>(&Control))
        button->setText(Text);
    else if (auto* group = qobject_cast<QGroupBox*>(&Control))
        group->setTitle(Text);
}

void set_tab_title(QWidget& Page, const QString& Text) {
    // A page sits in the tab widget's stack, so the tab widget is two levels up.
    for (QWidget* w = Page.parentWidget(); w; w = w->parentWidget()) {
        if (auto* tabs = qobject_cast<QTabWidget*>(w)) {
            const int index = tabs->indexOf(&Page);
            if (index >= 0) tabs->setTabText(index, Text);
            return;
        }
    }
}

} // namespace

void Apply_Lang_Targets(QWidget& Window, std::span<const TLang_Target> Targets) {
    for (const TLang_Target& t : Targets) {
        const QString text = Lang_Strings.value(t.Entry);
        if (t.Property == lpTitle) {
            Window.setWindowTitle(text);
            continue;
        }
        auto* control = Window.findChild<QWidget*>(QString::fromLatin1(t.Control));
        if (!control) continue;
        switch (t.Property) {
        case lpHint:
            control->setToolTip(text);
            break;
        case lpCaption:
            set_caption(*control, text);
            break;
        case lpTab:
            set_tab_title(*control, text);
            break;
        case lpPage:
            set_caption(*control, Lang_Page_Text(1, 1));
            break;
        case lpTitle:
            break;
        }
    }
}
