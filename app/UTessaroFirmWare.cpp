#include "UTessaroFirmWare.h"

#include "UAbout.h"
#include "UComon.h"
#include "ULanguage.h"
#include "button_pictures.h"
#include "comm_int.h"
#include "converter.h"
#include "lang_apply.h"
#include "port_open_reason.h"
#include "ui_seam.h"
#include "update_check.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <chrono>
#include <filesystem>
#include <thread>

TFTessaroFirmWare* FTessaroFirmWare = nullptr;

namespace {

constexpr int Client_Width = 499;
constexpr int Client_Height = 512;
// The open gets this long, frozen window and all; the worker's first 200 ms are a pause.
constexpr std::chrono::milliseconds Connect_Allowance{700};
constexpr int Progress_Tick_ms = 500;

QString lang(TLang_Entry Entry) {
    return Lang_Strings.value(Entry);
}

QString qt(std::string_view Text) {
    return QString::fromUtf8(Text.data(), static_cast<qsizetype>(Text.size()));
}

// A status text for a command cut short because its worker went away (Disconnect, a new Connect,
// the close of the window or a lost link): the step's own failure text, then "Disconnect".
QString interrupted_text(TLang_Entry Step_Failed) {
    return lang(Step_Failed) + QStringLiteral(" - ") + lang(leCon_Disconnected);
}

QLabel* make_label(QWidget* Parent, const char* Name, const QString& Text) {
    auto* Label = new QLabel(Text, Parent);
    Label->setObjectName(QString::fromLatin1(Name));
    return Label;
}

QPushButton* make_button(QWidget* Parent, const char* Name, const QString& Text, const char* Picture,
                         int Picture_Size) {
    auto* Button = new QPushButton(Text, Parent);
    Button->setObjectName(QString::fromLatin1(Name));
    Button->setIcon(Button_Picture(QString::fromLatin1(Picture), Picture_Size));
    Button->setIconSize(QSize(Picture_Size, Picture_Size));
    return Button;
}

QComboBox* make_list(QWidget* Parent, const char* Name, const auto& Items, std::string_view Selected) {
    auto* List = new QComboBox(Parent);
    List->setObjectName(QString::fromLatin1(Name));
    for (std::string_view Item : Items)
        List->addItem(qt(Item));
    List->setCurrentText(qt(Selected));
    return List;
}

} // namespace

TFTessaroFirmWare::TFTessaroFirmWare(const QString& Program_Folder, QWidget* Parent)
    : QWidget(Parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint) {
    setObjectName(QStringLiteral("FTessaroFirmWare"));
    Build_Controls();
    FormCreate(Program_Folder);
}

TFTessaroFirmWare::~TFTessaroFirmWare() {
    arm.reset();
    if (FTessaroFirmWare == this) FTessaroFirmWare = nullptr;
}

void TFTessaroFirmWare::Build_Controls() {
    auto* Main = new QVBoxLayout(this);
    Main->setContentsMargins(8, 6, 8, 8);
    Main->setSpacing(6);

    // Header band
    auto* Header = new QHBoxLayout;
    auto* Titles = new QVBoxLayout;
    Titles->setSpacing(0);
    L_SW_Code = make_label(this, "L_SW_Code", QStringLiteral("SW40815"));
    QFont Code_Font = L_SW_Code->font();
    Code_Font.setPointSize(22);
    Code_Font.setBold(true);
    L_SW_Code->setFont(Code_Font);
    L_SW_Code->setStyleSheet(QStringLiteral("color: #808080;"));
    L_SW_Desc = make_label(this, "L_SW_Desc", QStringLiteral("M-Bus / RS232 - Converter"));
    QFont Desc_Font = L_SW_Desc->font();
    Desc_Font.setBold(true);
    L_SW_Desc->setFont(Desc_Font);
    L_SW_Desc->setStyleSheet(QStringLiteral("color: #606060;"));
    LL_Update = make_label(this, "LL_Update", QString());
    LL_Update->setTextFormat(Qt::RichText);
    LL_Update->hide();
    connect(LL_Update, &QLabel::linkActivated, this, &TFTessaroFirmWare::LL_UpdateLinkClick);
    Titles->addWidget(L_SW_Code);
    Titles->addWidget(L_SW_Desc);
    Titles->addWidget(LL_Update);
    Header->addLayout(Titles, 1);
    Btn_Info = make_button(this, "Btn_Info", {}, "info", 48);
    Btn_Opz = make_button(this, "Btn_Opz", {}, "options", 48);
    Btn_Close = make_button(this, "Btn_Close", {}, "close", 48);
    for (QPushButton* Button : {Btn_Info, Btn_Opz, Btn_Close}) {
        Button->setFlat(true);
        Button->setFixedSize(56, 56);
        Header->addWidget(Button, 0, Qt::AlignTop);
    }
    Main->addLayout(Header);

    // Port selection
    GB_Select_COM = new QGroupBox(QStringLiteral(" Select COM Port "), this);
    GB_Select_COM->setObjectName(QStringLiteral("GB_Select_COM"));
    auto* Ports = new QGridLayout(GB_Select_COM);
    L_SelCOM_COMList = make_label(GB_Select_COM, "L_SelCOM_COMList", QStringLiteral("COM Port:"));
    CB_ComPort = make_list(GB_Select_COM, "CB_ComPort", std::array<std::string_view, 1>{"COM1"}, "COM1");
    CB_ComPort->setMinimumWidth(90);
    Btn_RefreshCOM = make_button(GB_Select_COM, "Btn_RefreshCOM", {}, "refresh", 24);
    Btn_Connect = make_button(GB_Select_COM, "Btn_Connect", QStringLiteral("Connect"), "connect", 24);
    Btn_Disconnect =
        make_button(GB_Select_COM, "Btn_Disconnect", QStringLiteral("Disconnect"), "disconnect", 24);
    L_Con_Res = make_label(GB_Select_COM, "L_Con_Res", QStringLiteral(" "));
    Ports->addWidget(L_SelCOM_COMList, 0, 0);
    Ports->addWidget(CB_ComPort, 0, 1);
    Ports->addWidget(Btn_RefreshCOM, 0, 2);
    Ports->addWidget(Btn_Connect, 0, 3);
    Ports->addWidget(Btn_Disconnect, 0, 4);
    Ports->addWidget(L_Con_Res, 1, 0, 1, 5);
    Ports->setColumnStretch(1, 1);
    Main->addWidget(GB_Select_COM);

    // Serial parameters: the converter's RS232 side on the left, its M-Bus side on the right
    GB_SerPar = new QGroupBox(QStringLiteral(" Serials Parameters "), this);
    GB_SerPar->setObjectName(QStringLiteral("GB_SerPar"));
    auto* Params = new QGridLayout(GB_SerPar);
    L_SP_SerPar = make_label(GB_SerPar, "L_SP_SerPar", QStringLiteral("SERIAL Parameters"));
    L_SP_MBusPar = make_label(GB_SerPar, "L_SP_MBusPar", QStringLiteral("M-BUS parameters"));
    L_SP_Ser_Baud = make_label(GB_SerPar, "L_SP_Ser_Baud", QStringLiteral("Baudrate"));
    L_SP_MBus_Baud = make_label(GB_SerPar, "L_SP_MBus_Baud", QStringLiteral("Baudrate"));
    L_SP_Ser_Par = make_label(GB_SerPar, "L_SP_Ser_Par", QStringLiteral("Parity"));
    L_SP_MBus_Par = make_label(GB_SerPar, "L_SP_MBus_Par", QStringLiteral("Parity"));
    CB_Baud_Ser =
        make_list(GB_SerPar, "CB_Baud_Ser", Serial_Baud_Texts, Serial_Baud_Texts[Serial_Baud_Fixed]);
    CB_Par_Ser = make_list(GB_SerPar, "CB_Par_Ser", Parity_Texts, Parity_Texts[Serial_Parity_Fixed]);
    CB_Baud_Ser->setEnabled(false);
    CB_Par_Ser->setEnabled(false);
    CB_Baud_MBus = make_list(GB_SerPar, "CB_Baud_MBus", MBus_Baud_Texts, "9600");
    CB_Par_MBus = make_list(GB_SerPar, "CB_Par_MBus", Parity_Texts, "NONE");
    Btn_WriteData = make_button(GB_SerPar, "Btn_WriteData", QStringLiteral("Write Data"), "write", 24);
    Btn_ReadData = make_button(GB_SerPar, "Btn_ReadData", QStringLiteral("Read Data"), "read", 24);
    L_SP_Read = make_label(GB_SerPar, "L_SP_Read", QStringLiteral("Read Parameters"));
    QFont Heading_Font = L_SP_Read->font();
    Heading_Font.setBold(true);
    for (QLabel* Heading : {L_SP_SerPar, L_SP_MBusPar, L_SP_Read})
        Heading->setFont(Heading_Font);
    L_SP_R_Ser_Baud = make_label(GB_SerPar, "L_SP_R_Ser_Baud", QStringLiteral("Baudrate"));
    L_SP_R_MBus_Baud = make_label(GB_SerPar, "L_SP_R_MBus_Baud", QStringLiteral("Baudrate"));
    L_SP_R_Ser_Par = make_label(GB_SerPar, "L_SP_R_Ser_Par", QStringLiteral("Parity"));
    L_SP_R_MBus_Par = make_label(GB_SerPar, "L_SP_R_MBus_Par", QStringLiteral("Parity"));
    L_SP_R_Ser_Baud_Val = make_label(GB_SerPar, "L_SP_R_Ser_Baud_Val", QStringLiteral(" "));
    L_SP_R_Ser_Par_Val = make_label(GB_SerPar, "L_SP_R_Ser_Par_Val", QStringLiteral(" "));
    L_SP_R_MBus_Baud_Val = make_label(GB_SerPar, "L_SP_R_MBus_Baud_Val", QStringLiteral(" "));
    L_SP_R_MBus_Par_Val = make_label(GB_SerPar, "L_SP_R_MBus_Par_Val", QStringLiteral(" "));
    for (QLabel* Value :
         {L_SP_R_Ser_Baud_Val, L_SP_R_Ser_Par_Val, L_SP_R_MBus_Baud_Val, L_SP_R_MBus_Par_Val}) {
        Value->setFont(Heading_Font);
        Value->setMinimumWidth(60);
    }
    Params->addWidget(L_SP_SerPar, 0, 0, 1, 2);
    Params->addWidget(L_SP_MBusPar, 0, 2, 1, 2);
    Params->addWidget(L_SP_Ser_Baud, 1, 0);
    Params->addWidget(CB_Baud_Ser, 1, 1);
    Params->addWidget(L_SP_MBus_Baud, 1, 2);
    Params->addWidget(CB_Baud_MBus, 1, 3);
    Params->addWidget(L_SP_Ser_Par, 2, 0);
    Params->addWidget(CB_Par_Ser, 2, 1);
    Params->addWidget(L_SP_MBus_Par, 2, 2);
    Params->addWidget(CB_Par_MBus, 2, 3);
    Params->addWidget(Btn_WriteData, 3, 0, 1, 2);
    Params->addWidget(Btn_ReadData, 3, 2, 1, 2);
    Params->addWidget(L_SP_Read, 4, 0, 1, 4);
    Params->addWidget(L_SP_R_Ser_Baud, 5, 0);
    Params->addWidget(L_SP_R_Ser_Baud_Val, 5, 1);
    Params->addWidget(L_SP_R_MBus_Baud, 5, 2);
    Params->addWidget(L_SP_R_MBus_Baud_Val, 5, 3);
    Params->addWidget(L_SP_R_Ser_Par, 6, 0);
    Params->addWidget(L_SP_R_Ser_Par_Val, 6, 1);
    Params->addWidget(L_SP_R_MBus_Par, 6, 2);
    Params->addWidget(L_SP_R_MBus_Par_Val, 6, 3);
    Params->setColumnStretch(1, 1);
    Params->setColumnStretch(3, 1);
    Main->addWidget(GB_SerPar);

    // Firmware update
    GB_Firmware = new QGroupBox(QStringLiteral(" Update Firmware "), this);
    GB_Firmware->setObjectName(QStringLiteral("GB_Firmware"));
    auto* Firmware = new QGridLayout(GB_Firmware);
    Btn_UpdateFirm =
        make_button(GB_Firmware, "Btn_UpdateFirm", QStringLiteral("Update Firmware"), "update", 24);
    CB_Firm_Read = new QCheckBox(QStringLiteral("Read Firmware after write"), GB_Firmware);
    CB_Firm_Read->setObjectName(QStringLiteral("CB_Firm_Read"));
    L_Firm_Progress = make_label(GB_Firmware, "L_Firm_Progress", QStringLiteral("Progress:"));
    L_Status = make_label(GB_Firmware, "L_Status", QStringLiteral(" "));
    GPB = new QProgressBar(GB_Firmware);
    GPB->setObjectName(QStringLiteral("GPB"));
    GPB->setRange(0, 100);
    GPB->setValue(0);
    Firmware->addWidget(Btn_UpdateFirm, 0, 0);
    Firmware->addWidget(CB_Firm_Read, 0, 1);
    Firmware->addWidget(L_Firm_Progress, 1, 0);
    Firmware->addWidget(L_Status, 1, 1);
    Firmware->addWidget(GPB, 2, 0, 1, 2);
    Firmware->setColumnStretch(1, 1);
    Main->addWidget(GB_Firmware);
    Main->addStretch(1);

    Timer_Update = new QTimer(this);
    Timer_Update->setObjectName(QStringLiteral("Timer_Update"));
    Timer_Update->setInterval(Update_First_Interval_Ms);
    connect(Timer_Update, &QTimer::timeout, this, [this] { Timer_UpdateTimer(Timer_Update); });
    T_Auto = new QTimer(this);
    T_Auto->setObjectName(QStringLiteral("T_Auto"));
    T_Auto->setInterval(Progress_Tick_ms);
    connect(T_Auto, &QTimer::timeout, this, [this] { T_AutoTimer(T_Auto); });

    for (QPushButton* Button : {Btn_Close, Btn_Info, Btn_Opz, Btn_RefreshCOM, Btn_Connect, Btn_Disconnect,
                                Btn_WriteData, Btn_ReadData, Btn_UpdateFirm})
        connect(Button, &QPushButton::clicked, this, [this, Button] { Btn_Click(Button); });
}

void TFTessaroFirmWare::FormCreate(const QString& Program_Folder) {
    setFixedSize(Client_Width, Client_Height);
    Lang_Strings.clear();
    Path_Exe =
        QDir::cleanPath(Program_Folder.isEmpty() ? QCoreApplication::applicationDirPath() : Program_Folder);
    for (auto [Path, Name] : {std::pair{&Path_Master, "MASTER"}, std::pair{&Path_Projects, "PROJECTS"},
                              std::pair{&Path_Language, "LANGUAGE"}}) {
        *Path = Path_Exe + u'/' + QString::fromLatin1(Name);
        // A link to a folder counts as a folder; anything else there makes the creation fail.
        if (!QFileInfo(*Path).isDir()) QDir().mkdir(*Path);
    }
    FPorts_Dir = Path_Exe + QStringLiteral("/PORTS");

    const QString Settings = Path_Exe + QStringLiteral("/Tessaro.xml");
    QString Error;
    if (FSettings.Load(Settings, Error) == TSettings_File::TLoad::Unparsable) {
        // The broken file is kept for the user to look at; the next save starts a new one.
        const QString Bad = TSettings_File::Set_Aside(Settings);
        Ui_Seam().Message(
            this,
            Bad.isEmpty()
                ? QStringLiteral("%1 cannot be read: %2\nIt could not be renamed either and will be replaced "
                                 "at the next save. The program starts with its default settings.")
                      .arg(QDir::toNativeSeparators(Settings), Error)
                : QStringLiteral("%1 cannot be read: %2\nIt has been kept as %3. The program starts with its "
                                 "default settings.")
                      .arg(QDir::toNativeSeparators(Settings), Error, QDir::toNativeSeparators(Bad)),
            TBox_Icon::Error);
    }
    Set_Update_Timer();

    SW_Title = QStringLiteral("Velmora - Configurator SW40815 - M-Bus / RS232 ");
    SW_Code = SW_Code_Const;
    SW_Desc = SW_Desc_Const;
    setWindowTitle(SW_Title);
    L_SW_Code->setText(SW_Code);
    L_SW_Desc->setText(SW_Desc);

    Load_Language(Path_Language, Language_Name);
    Set_Lang();
    ReFresh_ComList();
    arm.reset();
    Do_init = false;

    if (const QScreen* Screen = QGuiApplication::primaryScreen())
        move(Screen->availableGeometry().center() - rect().center());
}

void TFTessaroFirmWare::closeEvent(QCloseEvent* Event) {
    FormClose();
    Event->accept();
}

void TFTessaroFirmWare::FormClose() {
    Save_Setting();
    Release_Worker();
}

void TFTessaroFirmWare::Btn_Click(QObject* Sender) {
    if (Sender == Btn_Close) {
        close();
    } else if (Sender == Btn_Info) {
        if (FAbout) FAbout->exec();
    } else if (Sender == Btn_Opz) {
        if (FSoftOptions && FSoftOptions->exec() == QDialog::Accepted) {
            Save_Setting();
            Set_Update_Timer();
        }
    } else if (Sender == Btn_RefreshCOM) {
        ReFresh_ComList();
    } else if (Sender == Btn_Connect) {
        Connect_COM_Port();
    } else if (Sender == Btn_Disconnect) {
        Disconnect_COM_Port();
    } else if (Sender == Btn_WriteData) {
        Write_Data();
    } else if (Sender == Btn_ReadData) {
        Read_Data();
    } else if (Sender == Btn_UpdateFirm) {
        Update_Firmware();
    }
}

void TFTessaroFirmWare::Save_Setting() {
    const QString File = Path_Exe + QStringLiteral("/Tessaro.xml");
    QString Error;
    if (!FSettings.Save(File, Error))
        Ui_Seam().Message(this, QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(File), Error),
                          TBox_Icon::Error);
}

void TFTessaroFirmWare::Set_Update_Timer() {
    if (Enable_Internet != 0 && Enable_Update != 0) {
        if (!Timer_Update->isActive()) Timer_Update->start();
    } else {
        Timer_Update->stop();
    }
}

void TFTessaroFirmWare::Timer_UpdateTimer(QObject*) {
    // The check is the options window's, so the on-demand one and this one never overlap.
    if (FSoftOptions) Run_Timer_Update(*Timer_Update, *LL_Update, FSoftOptions->Update_Check());
}

void TFTessaroFirmWare::LL_UpdateLinkClick(const QString& Link) {
    Open_Link_Href(Link);
}

void TFTessaroFirmWare::Set_Lang() {
    Apply_Lang_Targets(*this, Main_Lang_Targets);
}

void TFTessaroFirmWare::Change_Language() {
    Set_Lang();
    if (FSoftOptions) FSoftOptions->Set_Lang();
}

// ---- ports and connection ----

QStringList TFTessaroFirmWare::EnumPorts() {
    FPorts = List_Ports(FPorts_Dir.toStdString());
    QStringList Numbers;
    for (const TPortEntry& Port : FPorts)
        Numbers << QString::number(Port.Number);
    return Numbers;
}

void TFTessaroFirmWare::ReFresh_ComList() {
    const QStringList Numbers = EnumPorts();
    CB_ComPort->clear();
    for (qsizetype i = 0; i < Numbers.size(); ++i) {
        CB_ComPort->addItem(QStringLiteral("COM") + Numbers[i]);
        CB_ComPort->setItemData(static_cast<int>(i), QString::fromStdString(FPorts[i].Path), Qt::ToolTipRole);
    }
    CB_ComPort->setCurrentIndex(CB_ComPort->count() > 0 ? 0 : -1);
}

void TFTessaroFirmWare::Release_Worker() {
    T_Auto->stop();
    arm.reset();
    Do_init = false;
}

void TFTessaroFirmWare::Connect_COM_Port() {
    Release_Worker();
    Do_init = true;
    arm = std::make_shared<Tarm_SER>(true, [] {
        // The port's line events are handed to the interface thread, as for any window's control.
        auto Port = std::make_unique<TComm>();
        Port->SetDispatcher([](std::function<void()> Call) {
            QMetaObject::invokeMethod(qApp, std::move(Call), Qt::QueuedConnection);
        });
        return Port;
    });
    const int Selected = CB_ComPort->currentIndex();
    arm->Com_Port =
        Selected >= 0 && Selected < static_cast<int>(FPorts.size()) ? FPorts[Selected].Path : std::string();
    arm->Start();
    // The window stays frozen for the allowance, but a finished open ends the wait at once.
    const auto Deadline = std::chrono::steady_clock::now() + Connect_Allowance;
    while (arm->InitDone() == 0 && std::chrono::steady_clock::now() < Deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (arm->InitDone() == 1 && arm->res_connessione() == 1) {
        L_Con_Res->setText(lang(leCon_Initialized));
        L_Con_Res->setToolTip(QString());
        return;
    }
    L_Con_Res->setText(lang(leCon_Init_Error));
    L_Con_Res->setToolTip(QString::fromStdString(Port_Open_Reason(*arm, Connect_Allowance)));
    // The failed worker stays until the next Disconnect or Connect.
    Do_init = false;
}

void TFTessaroFirmWare::Disconnect_COM_Port() {
    Release_Worker();
    L_Con_Res->setText(lang(leCon_Disconnected));
    L_Con_Res->setToolTip(QString());
}

// ---- converter commands ----

void TFTessaroFirmWare::Process_Events() {
    QThread::msleep(10);
    QCoreApplication::processEvents();
}

bool TFTessaroFirmWare::Refuse_When_Busy(QPushButton* Command) {
    // A command that waits lets others run inside its wait; one of those placing a request
    // would hand the waiting one the wrong answer, so the second is refused.
    if (!FCommand_Running && arm->stato.load(std::memory_order_acquire) == St_Idle) return false;
    if (Command == Btn_UpdateFirm)
        L_Status->setText(lang(leWrite_Firmware_Error));
    else if (Command == Btn_ReadData)
        L_Status->setText(lang(leRead_Data_Error));
    else
        L_Status->setText(Command->text() + QStringLiteral(": ") + qt(Code_Error_Text));
    return true;
}

bool TFTessaroFirmWare::Worker_Gone(const std::shared_ptr<Tarm_SER>& Worker) {
    if (arm != Worker) return true;
    if (Worker->LinkLost() == 0) return false;
    Release_Worker();
    L_Con_Res->setText(lang(leCon_Disconnected));
    return true;
}

namespace {

// Marks a command as running for as long as it lives.
class TCommand_Scope {
public:
    explicit TCommand_Scope(bool& Running) : FRunning(Running) { FRunning = true; }
    ~TCommand_Scope() { FRunning = false; }
    TCommand_Scope(const TCommand_Scope&) = delete;
    TCommand_Scope& operator=(const TCommand_Scope&) = delete;

private:
    bool& FRunning;
};

} // namespace

void TFTessaroFirmWare::Write_Data() {
    if (!Do_init || Refuse_When_Busy(Btn_WriteData)) return;
    const std::shared_ptr<Tarm_SER> Worker = arm;
    TCommand_Scope Scope(FCommand_Running);
    const TProcessEvents Events = [] { QCoreApplication::processEvents(); };
    const QString Write_Error = Btn_WriteData->text() + QStringLiteral(": ") + qt(Code_Error_Text);
    const TGate Gate = Protection_Gate(*Worker, Events);
    if (Worker_Gone(Worker)) return;
    if (Gate == TGate::Refused) {
        Ui_Seam().Message(this, lang(leProtection), TBox_Icon::Error);
        return;
    }
    // Without a judged protection word nothing is written: the converter did not answer.
    if (Gate != TGate::Passed) {
        L_Status->setText(Write_Error);
        return;
    }
    const TCmdResult Written = Write_Params(*Worker, static_cast<std::uint8_t>(CB_Baud_MBus->currentIndex()),
                                            static_cast<std::uint8_t>(CB_Par_MBus->currentIndex()), Events);
    if (Worker_Gone(Worker)) return;
    // A write that was not acknowledged is said, so it is never taken for a done one.
    if (Written != TCmdResult::Done) L_Status->setText(Write_Error);
}

void TFTessaroFirmWare::Read_Data() {
    if (!Do_init || Refuse_When_Busy(Btn_ReadData)) return;
    const std::shared_ptr<Tarm_SER> Worker = arm;
    TCommand_Scope Scope(FCommand_Running);
    const TProcessEvents Events = [] { QCoreApplication::processEvents(); };
    const auto Lost = [&] {
        const bool Was_Connected = arm == Worker;
        if (!Worker_Gone(Worker)) return false;
        // A Disconnect the user pressed needs no box; a link that dropped by itself does.
        if (Was_Connected)
            Ui_Seam().Message(this, lang(leRead_Data_Error) + u'\n' + lang(leCon_Disconnected),
                              TBox_Icon::Error);
        return true;
    };
    const TGate Gate = Protection_Gate(*Worker, Events);
    if (Lost()) return;
    if (Gate == TGate::Busy) {
        L_Status->setText(lang(leRead_Data_Error));
        return;
    }
    if (Gate == TGate::Refused) {
        Ui_Seam().Message(this, lang(leProtection), TBox_Icon::Error);
        return;
    }
    // A converter that gave no valid protection word is not read on: its values would be guesses.
    if (Gate == TGate::No_Answer) {
        Ui_Seam().Message(this, lang(leRead_Data_Error), TBox_Icon::Error);
        return;
    }
    TLineParams Params;
    const TCmdResult Read = Read_Params(*Worker, Params, Events);
    if (Lost()) return;
    if (Read != TCmdResult::Done) {
        Ui_Seam().Message(this, lang(leRead_Data_Error), TBox_Icon::Error);
        return;
    }
    L_SP_R_Ser_Baud_Val->setText(qt(Serial_Baud_Text(Params.Ser_Baud)));
    L_SP_R_Ser_Par_Val->setText(qt(Parity_Text(Params.Ser_Par)));
    L_SP_R_MBus_Baud_Val->setText(qt(MBus_Baud_Text(Params.MBus_Baud)));
    L_SP_R_MBus_Par_Val->setText(qt(Parity_Text(Params.MBus_Par)));
}

void TFTessaroFirmWare::T_AutoTimer(QObject*) {
    if (!arm) {
        T_Auto->stop();
        return;
    }
    GPB->setValue(Transfer_Position(*arm));
    if (arm->stato.load(std::memory_order_acquire) == St_Idle) T_Auto->stop();
}

bool TFTessaroFirmWare::Wait_Transfer(const std::shared_ptr<Tarm_SER>& Worker) {
    T_Auto->start();
    while (T_Auto->isActive()) {
        Process_Events();
        if (Worker_Gone(Worker)) {
            T_Auto->stop();
            return false;
        }
    }
    return true;
}

void TFTessaroFirmWare::Update_Firmware() {
    if (!Do_init || Refuse_When_Busy(Btn_UpdateFirm)) return;
    std::shared_ptr<Tarm_SER> Worker = arm;
    TCommand_Scope Scope(FCommand_Running);
    const TGate Gate = Protection_Gate(*Worker, [] { QCoreApplication::processEvents(); });
    if (Worker_Gone(Worker)) {
        L_Status->setText(interrupted_text(leWrite_Firmware_Error));
        return;
    }
    if (Gate == TGate::Refused) {
        Ui_Seam().Message(this, lang(leProtection), TBox_Icon::Error);
        return;
    }
    // Busy, or no valid protection word: no firmware goes to a converter that was not judged.
    if (Gate != TGate::Passed) {
        L_Status->setText(lang(leWrite_Firmware_Error));
        return;
    }

    const std::string Image = Firmware_Image_Path(Path_Master.toStdString());
    const QFileInfo Image_Info(QString::fromStdString(Image));
    if (!Image_Info.isFile()) {
        Ui_Seam().Message(this, lang(leFirmware_Missing), TBox_Icon::Error);
        return;
    }
    std::int32_t Dim = 0;
    if (Start_Firmware_Write(*Worker, Image, Dim) != Req_Accepted) {
        L_Status->setText(lang(leWrite_Firmware_Error));
        return;
    }
    L_Status->setText(lang(leWrite_Firmware));
    if (!Wait_Transfer(Worker)) {
        L_Status->setText(interrupted_text(leWrite_Firmware_Error));
        return;
    }
    if (Worker->TransferFailed()) {
        L_Status->setText(lang(leWrite_Firmware_Error));
        return;
    }
    if (!CB_Firm_Read->isChecked()) {
        L_Status->setText(lang(leUpdate_Done));
        return;
    }

    const std::string Readback = Readback_File_Name(Image, std::chrono::system_clock::now());
    if (Start_Firmware_Readback(*Worker, Readback, Dim) != Req_Accepted) {
        L_Status->setText(lang(leRead_Firmware_Error));
        return;
    }
    L_Status->setText(lang(leRead_Firmware));
    if (!Wait_Transfer(Worker)) {
        L_Status->setText(interrupted_text(leRead_Firmware_Error));
        // The worker closes the half-written file when it ends; the file itself is ours to remove.
        Worker.reset();
        std::error_code Ignored;
        std::filesystem::remove(Readback, Ignored);
        return;
    }
    if (Worker->TransferFailed()) {
        L_Status->setText(lang(leRead_Firmware_Error));
        std::error_code Ignored;
        std::filesystem::remove(Readback, Ignored);
        return;
    }
    L_Status->setText(lang(Confronta_File(Image, Readback) ? leUpdate_Done : leRead_Back_Error));
}
