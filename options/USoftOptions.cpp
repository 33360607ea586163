#include "USoftOptions.h"

#include "UComon.h"
#include "ULanguage.h"
#include "lang_apply.h"
#include "ui_seam.h"

#include <QCheckBox>
#include <QCollator>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

TFSoftOptions* FSoftOptions = nullptr;

namespace {

constexpr int Client_Width = 509;
constexpr int Client_Height = 373;
constexpr int Flag_Size = 48;

QString language_of(const QString& File_Name) {
    return File_Name.left(File_Name.size() - 4);
}

// A file is listed when it could carry none of the attributes that hide a language file on
// Windows: it is a file (not a folder), it can be read, and it is not read-only, that is some
// write permission is set. Hidden files (a leading dot) count like any other.
bool listable_language_file(const QFileInfo& Info) {
    if (!Info.isFile() || !Info.isReadable()) return false;
    const auto writable = QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    return (Info.permissions() & writable) != 0;
}

// The bitmap with the colour of its lower-left pixel left out; null when it is no picture.
QPixmap transparent_flag(const QString& File_Name) {
    const QImage image(File_Name);
    if (image.isNull()) return {};
    QPixmap pixmap = QPixmap::fromImage(image);
    pixmap.setMask(pixmap.createMaskFromColor(image.pixelColor(0, image.height() - 1), Qt::MaskInColor));
    return pixmap;
}

QFrame* panel(QWidget* Parent, const char* Name, int Height) {
    auto* p = new QFrame(Parent);
    p->setObjectName(QString::fromLatin1(Name));
    p->setFixedHeight(Height);
    return p;
}

template <typename T> T* named(QWidget* Parent, const char* Name) {
    auto* w = new T(Parent);
    w->setObjectName(QString::fromLatin1(Name));
    return w;
}

} // namespace

TFSoftOptions::TFSoftOptions(TOptions_Host& Host, QWidget* Parent)
    : QDialog(Parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      FHost(Host), FUpdate_Check(this) {
    setObjectName(QStringLiteral("FSoftOptions"));
    setFixedSize(Client_Width, Client_Height);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(create_title_panel());
    PC_Options = named<QTabWidget>(this, "PC_Options");
    TS_Language = create_language_page();
    TS_Con_Options = create_connection_page();
    PC_Options->addTab(TS_Language, QString());
    PC_Options->addTab(TS_Con_Options, QString());
    auto* middle = new QVBoxLayout;
    middle->setContentsMargins(6, 6, 6, 0);
    middle->addWidget(PC_Options);
    layout->addLayout(middle, 1);
    layout->addWidget(create_button_panel());
    FormCreate();
}

QWidget* TFSoftOptions::create_title_panel() {
    P_Title = panel(this, "P_Title", 69);
    P_Title->setAutoFillBackground(true);
    P_Title->setBackgroundRole(QPalette::Base);
    P_Title->setFrameShape(QFrame::StyledPanel);
    L_SW_Code = named<QLabel>(P_Title, "L_SW_Code");
    L_SW_Desc = named<QLabel>(P_Title, "L_SW_Desc");
    QFont code_font = L_SW_Code->font();
    code_font.setPointSize(20);
    code_font.setBold(true);
    L_SW_Code->setFont(code_font);
    QFont desc_font = L_SW_Desc->font();
    desc_font.setBold(true);
    L_SW_Desc->setFont(desc_font);
    for (QLabel* l : {L_SW_Code, L_SW_Desc})
        l->setStyleSheet(QStringLiteral("color: gray;"));
    auto* v = new QVBoxLayout(P_Title);
    v->setContentsMargins(12, 4, 12, 4);
    v->setSpacing(0);
    v->addWidget(L_SW_Code);
    v->addWidget(L_SW_Desc);
    return P_Title;
}

QWidget* TFSoftOptions::create_language_page() {
    auto* page = named<QWidget>(this, "TS_Language");
    L_Sel_Lang = named<QLabel>(page, "L_Sel_Lang");
    auto* places = new QGridLayout;
    places->setHorizontalSpacing(12);
    for (int k = 0; k < Places_Per_Page; ++k) {
        const QByteArray n = QByteArray::number(k + 1);
        I_L[k] = named<QLabel>(page, ("I_L" + n).constData());
        L_L[k] = named<QLabel>(page, ("L_L" + n).constData());
        I_L[k]->setFixedSize(Flag_Size, Flag_Size);
        I_L[k]->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        for (QLabel* w : {I_L[k], L_L[k]}) {
            w->setCursor(Qt::PointingHandCursor);
            w->installEventFilter(this);
        }
        // Places 1 to 3 down the left column, 4 to 6 down the right one.
        auto* cell = new QHBoxLayout;
        cell->setSpacing(8);
        cell->addWidget(I_L[k]);
        cell->addWidget(L_L[k], 1);
        places->addLayout(cell, k % 3, k / 3);
    }
    for (int row = 0; row < 3; ++row)
        places->setRowMinimumHeight(row, Flag_Size + 4);
    places->setColumnStretch(0, 1);
    places->setColumnStretch(1, 1);

    L_Page_Lang = named<QLabel>(page, "L_Page_Lang");
    L_Page_Lang->setAlignment(Qt::AlignCenter);
    Btn_Prev = named<QPushButton>(page, "Btn_Prev");
    Btn_Next = named<QPushButton>(page, "Btn_Next");
    connect(Btn_Prev, &QPushButton::clicked, this, &TFSoftOptions::Btn_NextClick);
    connect(Btn_Next, &QPushButton::clicked, this, &TFSoftOptions::Btn_NextClick);
    auto* paging = new QGridLayout;
    paging->addWidget(Btn_Prev, 0, 0, Qt::AlignLeft);
    paging->addWidget(L_Page_Lang, 0, 1);
    paging->addWidget(Btn_Next, 0, 2, Qt::AlignRight);
    for (int c = 0; c < 3; ++c)
        paging->setColumnStretch(c, 1);

    auto* v = new QVBoxLayout(page);
    v->addWidget(L_Sel_Lang);
    v->addLayout(places);
    v->addStretch(1);
    v->addLayout(paging);
    return page;
}

QWidget* TFSoftOptions::create_connection_page() {
    auto* page = named<QWidget>(this, "TS_Con_Options");
    CB_En_Con = named<QCheckBox>(page, "CB_En_Con");
    CB_Update = named<QCheckBox>(page, "CB_Update");
    Btn_Check_Update = named<QPushButton>(page, "Btn_Check_Update");
    LL_Check_Update = named<QLabel>(page, "LL_Check_Update");
    LL_Check_Update->setWordWrap(true);
    // A change made by the program counts as a click, as the enabling rules expect.
    connect(CB_En_Con, &QCheckBox::toggled, this, &TFSoftOptions::CB_En_ConClick);
    connect(CB_Update, &QCheckBox::toggled, this, &TFSoftOptions::CB_En_ConClick);
    connect(Btn_Check_Update, &QPushButton::clicked, this, &TFSoftOptions::Btn_Check_UpdateClick);
    connect(LL_Check_Update, &QLabel::linkActivated, this, &TFSoftOptions::LL_Check_UpdateLinkClick);

    auto* indented = new QHBoxLayout;
    indented->addSpacing(20);
    indented->addWidget(CB_Update, 1);
    auto* button_row = new QHBoxLayout;
    button_row->addWidget(Btn_Check_Update);
    button_row->addStretch(1);
    auto* v = new QVBoxLayout(page);
    v->addWidget(CB_En_Con);
    v->addLayout(indented);
    v->addSpacing(12);
    v->addLayout(button_row);
    v->addWidget(LL_Check_Update);
    v->addStretch(1);
    return page;
}

QWidget* TFSoftOptions::create_button_panel() {
    P_Button = panel(this, "P_Button", 40);
    Btn_OK = named<QPushButton>(P_Button, "Btn_OK");
    Btn_Cancel = named<QPushButton>(P_Button, "Btn_Cancel");
    Btn_OK->setDefault(true);
    connect(Btn_OK, &QPushButton::clicked, this, &TFSoftOptions::Btn_OKClick);
    connect(Btn_Cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* h = new QHBoxLayout(P_Button);
    h->setContentsMargins(6, 4, 6, 4);
    h->addStretch(1);
    h->addWidget(Btn_OK);
    h->addWidget(Btn_Cancel);
    return P_Button;
}

void TFSoftOptions::FormCreate() {
    SL_Languages.clear();
    L_SW_Code->setText(SW_Code);
    Set_Lang();
}

void TFSoftOptions::Set_Lang() {
    Apply_Lang_Targets(*this, Options_Lang_Targets);
}

void TFSoftOptions::showEvent(QShowEvent* Event) {
    QDialog::showEvent(Event);
    if (!Event->spontaneous()) FormShow();
}

void TFSoftOptions::FormShow() {
    ++FShowing;
    Language_In_Use = Language_Name;
    Create_Lang_List();
    Update_CheckBox();
    LL_Check_Update->hide();
    PC_Options->setCurrentWidget(TS_Language);
    CB_En_Con->setChecked(Enable_Internet != 0);
    CB_Update->setChecked(Enable_Update != 0);
    if (const QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
}

void TFSoftOptions::Update_CheckBox() {
    if (CB_En_Con->isChecked()) {
        CB_Update->setEnabled(true);
    } else {
        CB_Update->setEnabled(false);
        Btn_Check_Update->setEnabled(false);
    }
    // While a check runs the button waits for it, so one press gives one answer.
    Btn_Check_Update->setEnabled(CB_Update->isEnabled() && CB_Update->isChecked() && !FChecking);
}

void TFSoftOptions::CB_En_ConClick() {
    Update_CheckBox();
}

void TFSoftOptions::Btn_OKClick() {
    Language_Name = Language_In_Use;
    Enable_Internet = CB_En_Con->isChecked() ? 1 : 0;
    Enable_Update = CB_Update->isChecked() ? 1 : 0;
    FHost.Set_Update_Timer();
    accept();
}

void TFSoftOptions::Btn_Check_UpdateClick() {
    FChecking = true;
    Update_CheckBox();
    FUpdate_Check.Check_Version(this, [this, showing = FShowing](bool Newer) {
        FChecking = false;
        Update_CheckBox();
        if (showing != FShowing || !isVisible()) return;
        if (Newer) {
            Show_Download_Link(*LL_Check_Update, Lang_Strings[leLL_Check_Update_New]);
        } else {
            LL_Check_Update->setTextFormat(Qt::PlainText);
            LL_Check_Update->setText(Lang_Strings[leLL_Check_Update_None]);
        }
        LL_Check_Update->show();
    });
}

void TFSoftOptions::LL_Check_UpdateLinkClick(const QString& Link) {
    Open_Link_Href(Link);
}

void TFSoftOptions::Create_Lang_List() {
    SL_Languages.clear();
    // An empty path would be the working folder, which is no language folder.
    if (!Path_Language.isEmpty()) {
        const QDir folder(Path_Language);
        const QFileInfoList found =
            folder.entryInfoList({QStringLiteral("*.lng")}, QDir::Files | QDir::Hidden, QDir::NoSort);
        for (const QFileInfo& info : found)
            if (listable_language_file(info)) SL_Languages.append(info.fileName());
    }
    if (!SL_Languages.isEmpty()) {
        QCollator collator; // the user's locale
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        std::stable_sort(
            SL_Languages.begin(), SL_Languages.end(),
            [&collator](const QString& a, const QString& b) { return collator.compare(a, b) < 0; });
    }
    Show_Page = 1;
    Update_Lang_Page(1);
}

void TFSoftOptions::Update_Lang_Page(std::int32_t Num_Page) {
    const std::int32_t pages = Page_Count(SL_Languages.size());
    L_Sel_Lang->setText(Lang_Selected_Text(Language_In_Use));
    L_Page_Lang->setText(Lang_Page_Text(Num_Page, pages));
    Btn_Prev->setVisible(Num_Page != 1);
    Btn_Next->setVisible(Num_Page != pages);
    const qsizetype first = qsizetype(Num_Page - 1) * Places_Per_Page;
    const qsizetype n = std::min<qsizetype>(SL_Languages.size() - first, Places_Per_Page);
    for (int k = 0; k < Places_Per_Page; ++k) {
        I_L[k]->setVisible(k < n);
        L_L[k]->setVisible(k < n);
    }
    for (int k = 0; k < n; ++k) {
        const QString language = language_of(SL_Languages[first + k]);
        L_L[k]->setText(language);
        Show_Flag(k, language);
    }
}

void TFSoftOptions::Show_Flag(int Place, const QString& Language) {
    // A flag file that is no readable picture counts as missing.
    for (const QString& name : {Language + QStringLiteral(".bmp"), QStringLiteral("DefaultFlag.bmp")}) {
        const QString file = Path_Language + u'/' + name;
        if (!QFileInfo(file).isFile()) continue;
        const QPixmap flag = transparent_flag(file);
        if (flag.isNull()) continue;
        I_L[Place]->setPixmap(flag);
        return;
    }
    I_L[Place]->clear();
    I_L[Place]->hide();
}

void TFSoftOptions::Btn_NextClick() {
    const QObject* button = sender();
    if (button == Btn_Next && Page_Count(SL_Languages.size()) >= Show_Page + 1) ++Show_Page;
    if (button == Btn_Prev && Show_Page >= 2) --Show_Page;
    Update_Lang_Page(Show_Page);
}

bool TFSoftOptions::eventFilter(QObject* Watched, QEvent* Event) {
    if (Event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(Event)->button() == Qt::LeftButton) {
        LangClick(Watched);
        return true;
    }
    return QDialog::eventFilter(Watched, Event);
}

void TFSoftOptions::LangClick(QObject* Sender) {
    int place = -1;
    for (int k = 0; k < Places_Per_Page; ++k)
        if (Sender == I_L[k] || Sender == L_L[k]) place = k;
    const qsizetype item = qsizetype(Show_Page - 1) * Places_Per_Page + place;
    if (place < 0 || item >= SL_Languages.size()) return;
    const QString chosen = language_of(SL_Languages[item]);
    if (!Ui_Seam().Ask_Yes_No(this, Lang_Confirm_Text(Language_In_Use, chosen))) return;

    Language_In_Use = chosen;
    // The table takes the chosen language; the saved language stays until OK.
    const QString saved = Language_Name;
    Language_Name = chosen;
    Load_Language(Path_Language, Language_Name);
    Language_Name = saved;
    FHost.Change_Language();
    L_Sel_Lang->setText(Lang_Selected_Text(Language_In_Use));
    L_Page_Lang->setText(Lang_Page_Text(Show_Page, Page_Count(SL_Languages.size())));
}
