#pragma once
// The options window: the language page and the internet options, with the on-demand update
// check. Created once at program start, after the main window has loaded the strings, and
// shown modally for every opening.

#include "options_host.h"
#include "update_check.h"

#include <QDialog>
#include <QStringList>

#include <array>
#include <cstdint>

class QCheckBox;
class QFrame;
class QLabel;
class QPushButton;
class QTabWidget;

class TFSoftOptions : public QDialog {
    Q_OBJECT
public:
    explicit TFSoftOptions(TOptions_Host& Host, QWidget* Parent = nullptr);

    // Puts entries 28 to 41 on the window's controls.
    void Set_Lang();
    // The check both this window and the main window's timer use, so that they never overlap.
    TUpdate_Check& Update_Check() { return FUpdate_Check; }

    // Language files found at the last showing, "<name>.lng", in display order.
    QStringList SL_Languages;
    // The page of the language list on screen, from 1.
    std::int32_t Show_Page = 1;
    // The language chosen in this opening; it becomes the saved one only with OK.
    QString Language_In_Use;

    static constexpr int Places_Per_Page = 6;
    static std::int32_t Page_Count(qsizetype Items) { return static_cast<std::int32_t>((Items + 5) / 6); }

protected:
    void showEvent(QShowEvent* Event) override;
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    void FormCreate();
    void FormShow();
    void Update_CheckBox();
    void CB_En_ConClick();
    void Btn_OKClick();
    void Btn_Check_UpdateClick();
    void LL_Check_UpdateLinkClick(const QString& Link);
    void Create_Lang_List();
    void Update_Lang_Page(std::int32_t Num_Page);
    void Btn_NextClick();
    void LangClick(QObject* Sender);
    void Show_Flag(int Place, const QString& Language);

    QWidget* create_title_panel();
    QWidget* create_language_page();
    QWidget* create_connection_page();
    QWidget* create_button_panel();

    TOptions_Host& FHost;
    TUpdate_Check FUpdate_Check;
    // Bumped at every showing, so a check that ends after the window was reopened shows nothing.
    int FShowing = 0;
    bool FChecking = false;

    QFrame* P_Title = nullptr;
    QLabel* L_SW_Code = nullptr;
    QLabel* L_SW_Desc = nullptr;
    QTabWidget* PC_Options = nullptr;
    QWidget* TS_Language = nullptr;
    QWidget* TS_Con_Options = nullptr;
    QLabel* L_Sel_Lang = nullptr;
    std::array<QLabel*, Places_Per_Page> I_L{};
    std::array<QLabel*, Places_Per_Page> L_L{};
    QLabel* L_Page_Lang = nullptr;
    QPushButton* Btn_Prev = nullptr;
    QPushButton* Btn_Next = nullptr;
    QCheckBox* CB_En_Con = nullptr;
    QCheckBox* CB_Update = nullptr;
    QPushButton* Btn_Check_Update = nullptr;
    QLabel* LL_Check_Update = nullptr;
    QFrame* P_Button = nullptr;
    QPushButton* Btn_OK = nullptr;
    QPushButton* Btn_Cancel = nullptr;
};

extern TFSoftOptions* FSoftOptions;
