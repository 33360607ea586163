#include "UAbout.h"

#include "UComon.h"
#include "update_check.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QUrl>
#include <QVBoxLayout>

TFAbout* FAbout = nullptr;

// The logo lives in a static library, whose resources are not registered by themselves.
static void register_pictures() {
    Q_INIT_RESOURCE(options_pictures);
}

namespace {

constexpr int Client_Width = 406;
constexpr int Client_Height = 148;
constexpr int Logo_Size = 81;

const QString Family_Title = QStringLiteral("Velmora M-Bus Converters");
const QString About_Code = QStringLiteral("SW40815");
const QString About_Version = QStringLiteral("1.000");
const QString Document_Code = QStringLiteral("MN40815");

template <typename T> T* named(QWidget* Parent, const char* Name, const QString& Text = {}) {
    auto* w = new T(Text, Parent);
    w->setObjectName(QString::fromLatin1(Name));
    return w;
}

} // namespace

TFAbout::TFAbout(QWidget* Parent)
    : QDialog(Parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("FAbout"));
    setWindowTitle(QStringLiteral("About..."));
    setFixedSize(Client_Width, Client_Height);

    Image2 = named<QLabel>(this, "Image2");
    Image2->setFixedSize(Logo_Size, Logo_Size);
    Image2->setScaledContents(true);
    register_pictures();
    Image2->setPixmap(QPixmap(QStringLiteral(":/options/velmora_logo.png")));
    LbButton1 = named<QPushButton>(this, "LbButton1", QStringLiteral("OK"));
    LbButton1->setFixedWidth(Logo_Size);
    LbButton1->setDefault(true);
    connect(LbButton1, &QPushButton::clicked, this, &QDialog::accept);

    Label1 = named<QLabel>(this, "Label1", Family_Title);
    QFont title_font = Label1->font();
    title_font.setBold(true);
    title_font.setPointSize(title_font.pointSize() + 2);
    Label1->setFont(title_font);
    Label2 = named<QLabel>(this, "Label2");
    Label6 = named<QLabel>(this, "Label6", QStringLiteral("Software Code : "));
    Label9 = named<QLabel>(this, "Label9");
    Label3 = named<QLabel>(this, "Label3", QStringLiteral("Version :"));
    Label10 = named<QLabel>(this, "Label10");
    Label8 = named<QLabel>(this, "Label8", QStringLiteral("Document Code :"));
    Label12 = named<QLabel>(this, "Label12");
    Label4 = named<QLabel>(this, "Label4", QUrl(Maker_Base_Url()).authority());
    Label4->setStyleSheet(QStringLiteral("color: blue; text-decoration: underline;"));
    for (QLabel* link : {Image2, Label4}) {
        link->setCursor(Qt::PointingHandCursor);
        link->installEventFilter(this);
    }

    auto* left = new QVBoxLayout;
    left->addWidget(Image2);
    left->addWidget(LbButton1);
    left->addStretch(1);
    auto* codes = new QGridLayout;
    codes->setVerticalSpacing(0);
    codes->addWidget(Label6, 0, 0);
    codes->addWidget(Label9, 0, 1);
    codes->addWidget(Label3, 1, 0);
    codes->addWidget(Label10, 1, 1);
    codes->addWidget(Label8, 2, 0);
    codes->addWidget(Label12, 2, 1);
    codes->setColumnStretch(1, 1);
    auto* right = new QVBoxLayout;
    right->setSpacing(2);
    right->addWidget(Label1);
    right->addWidget(Label2);
    right->addLayout(codes);
    right->addStretch(1);
    right->addWidget(Label4, 0, Qt::AlignRight);
    auto* h = new QHBoxLayout(this);
    h->setContentsMargins(8, 8, 8, 8);
    h->setSpacing(12);
    h->addLayout(left);
    h->addLayout(right, 1);
}

void TFAbout::showEvent(QShowEvent* Event) {
    QDialog::showEvent(Event);
    if (!Event->spontaneous()) FormShow();
}

void TFAbout::FormShow() {
    Label2->setText(SW_Desc_Const);
    Label9->setText(About_Code);
    Label10->setText(About_Version);
    Label12->setText(Document_Code);
    setFixedSize(Client_Width, Client_Height);
    if (const QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
}

bool TFAbout::eventFilter(QObject* Watched, QEvent* Event) {
    if (Event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(Event)->button() == Qt::LeftButton) {
        Label4Click();
        return true;
    }
    return QDialog::eventFilter(Watched, Event);
}

void TFAbout::Label4Click() {
    Open_Link_Href(Home_Page_Url());
}
