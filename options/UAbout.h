#pragma once
// The About window: the product's description, codes and version, the maker's logo and a link
// to the maker's home page. Its texts are fixed and do not follow the interface language.

#include <QDialog>

class QLabel;
class QPushButton;

class TFAbout : public QDialog {
    Q_OBJECT
public:
    explicit TFAbout(QWidget* Parent = nullptr);

protected:
    void showEvent(QShowEvent* Event) override;
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    void FormShow();
    void Label4Click();

    QLabel* Image2 = nullptr;
    QPushButton* LbButton1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label9 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label10 = nullptr;
    QLabel* Label8 = nullptr;
    QLabel* Label12 = nullptr;
    QLabel* Label4 = nullptr;
};

extern TFAbout* FAbout;
