#pragma once
// The configurator's main window: start-up and close, the settings file, the port list and the
// connection, the converter parameters and the firmware update.

#include "USoftOptions.h"
#include "arm_usb.h"
#include "port_list.h"
#include "settings_file.h"

#include <QWidget>

#include <memory>
#include <vector>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

class TFTessaroFirmWare : public QWidget, public TOptions_Host {
    Q_OBJECT
public:
    // Program_Folder is the folder of the program file; empty takes the running program's.
    explicit TFTessaroFirmWare(const QString& Program_Folder = {}, QWidget* Parent = nullptr);
    ~TFTessaroFirmWare() override;

    void Btn_Click(QObject* Sender);
    void Save_Setting();
    QStringList EnumPorts();
    void ReFresh_ComList();
    void Connect_COM_Port();
    void Disconnect_COM_Port();
    void Write_Data();
    void Read_Data();
    void Update_Firmware();
    void T_AutoTimer(QObject* Sender);
    void Set_Lang();
    void Change_Language() override;
    void Set_Update_Timer() override;
    void Timer_UpdateTimer(QObject* Sender);
    void LL_UpdateLinkClick(const QString& Link);

    // The current worker (none while not connected) and whether the converter commands may use it.
    Tarm_SER* Worker() const { return arm.get(); }
    bool Connected() const { return Do_init; }

    // Header
    QLabel* L_SW_Code;
    QLabel* L_SW_Desc;
    QLabel* LL_Update;
    QPushButton* Btn_Info;
    QPushButton* Btn_Opz;
    QPushButton* Btn_Close;
    // Port selection
    QGroupBox* GB_Select_COM;
    QLabel* L_SelCOM_COMList;
    QComboBox* CB_ComPort;
    QPushButton* Btn_RefreshCOM;
    QPushButton* Btn_Connect;
    QPushButton* Btn_Disconnect;
    QLabel* L_Con_Res;
    // Serial parameters
    QGroupBox* GB_SerPar;
    QLabel* L_SP_SerPar;
    QLabel* L_SP_MBusPar;
    QLabel* L_SP_Ser_Baud;
    QLabel* L_SP_MBus_Baud;
    QLabel* L_SP_Ser_Par;
    QLabel* L_SP_MBus_Par;
    QComboBox* CB_Baud_Ser;
    QComboBox* CB_Par_Ser;
    QComboBox* CB_Baud_MBus;
    QComboBox* CB_Par_MBus;
    QPushButton* Btn_WriteData;
    QPushButton* Btn_ReadData;
    QLabel* L_SP_Read;
    QLabel* L_SP_R_Ser_Baud;
    QLabel* L_SP_R_MBus_Baud;
    QLabel* L_SP_R_Ser_Par;
    QLabel* L_SP_R_MBus_Par;
    QLabel* L_SP_R_Ser_Baud_Val;
    QLabel* L_SP_R_Ser_Par_Val;
    QLabel* L_SP_R_MBus_Baud_Val;
    QLabel* L_SP_R_MBus_Par_Val;
    // Firmware update
    QGroupBox* GB_Firmware;
    QPushButton* Btn_UpdateFirm;
    QCheckBox* CB_Firm_Read;
    QLabel* L_Firm_Progress;
    QLabel* L_Status;
    QProgressBar* GPB;
    // Timers
    QTimer* Timer_Update;
    QTimer* T_Auto;

protected:
    void closeEvent(QCloseEvent* Event) override;

private:
    void Build_Controls();
    void FormCreate(const QString& Program_Folder);
    void FormClose();
    // The waits' event processing: one 10 ms pause, then the pending events.
    void Process_Events();
    // True (after saying so) when the command may not start because a command or transfer runs.
    bool Refuse_When_Busy(QPushButton* Command);
    // Ends a command whose worker was released meanwhile or lost its link; true when it must end.
    bool Worker_Gone(const std::shared_ptr<Tarm_SER>& Worker);
    // Releases the worker as Disconnect does, without touching the connection label.
    void Release_Worker();
    // Waits until T_Auto has seen the transfer end; false when the worker went away meanwhile.
    bool Wait_Transfer(const std::shared_ptr<Tarm_SER>& Worker);

    // The worker is shared with a running command, so a Disconnect inside the command's wait
    // cannot pull it from under it: it is destroyed when the last of the two lets go.
    std::shared_ptr<Tarm_SER> arm;
    bool Do_init = false;
    bool FCommand_Running = false;
    std::vector<TPortEntry> FPorts;
    QString FPorts_Dir;
    TSettings_File FSettings;
};

extern TFTessaroFirmWare* FTessaroFirmWare;
