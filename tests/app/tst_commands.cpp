// Reading and writing the converter's line parameters, and the firmware update, against the
// simulated converter; including buttons pressed while a command waits and a link that drops.

#include "app_fixture.h"

#include "memory_map.h"
#include "sim_memory.h"

using namespace std::chrono_literals;

namespace {

TSimFaultPlan plan(const char* Text) {
    TSimFaultPlan Plan;
    std::string Error;
    const auto Fault = Parse_Fault(Text, Error);
    if (Fault) Plan.Faults.push_back(*Fault);
    return Plan;
}

QStringList values(const TFTessaroFirmWare& W) {
    return {W.L_SP_R_Ser_Baud_Val->text(), W.L_SP_R_Ser_Par_Val->text(), W.L_SP_R_MBus_Baud_Val->text(),
            W.L_SP_R_MBus_Par_Val->text()};
}

// A transfer slow enough for a test to press buttons while it runs.
TSimOptions slow_program() {
    TSimOptions Options;
    Options.Program_Delay = 5ms;
    return Options;
}

} // namespace

class TCommands : public QObject {
    Q_OBJECT

private slots:
    void Commands_Do_Nothing_While_Not_Connected() {
        TApp_Fixture F;
        F.Start_Sim();
        F.Write_Image(F.Image_Bytes(256));
        TFTessaroFirmWare& W = F.Open_Window();
        for (QPushButton* Button : {W.Btn_ReadData, W.Btn_WriteData, W.Btn_UpdateFirm})
            Button->click();
        QVERIFY(F.Boxes.Boxes.empty());
        QCOMPARE(values(W), QStringList(4, QStringLiteral(" ")));
        QCOMPARE(W.L_Status->text(), QStringLiteral(" "));
        QCOMPARE(F.Sim->Counters().Reads.load(), 0u);
    }

    void Read_Data_Shows_The_Block_Through_The_Code_Tables_data() {
        QTest::addColumn<QByteArray>("Block");
        QTest::addColumn<QStringList>("Shown");
        QTest::newRow("factory") << QByteArray("\x09\x00\x05\x00", 4)
                                 << QStringList{"115200", "NONE", "9600", "NONE"};
        QTest::newRow("all out of range")
            << QByteArray("\x0a\x03\x08\xff", 4) << QStringList{"Error", "Error", "Error", "Error"};
        QTest::newRow("M-Bus side stops at 38400")
            << QByteArray("\x08\x02\x09\x01", 4) << QStringList{"57600", "ODD", "Error", "EVEN"};
    }
    void Read_Data_Shows_The_Block_Through_The_Code_Tables() {
        QFETCH(QByteArray, Block);
        QFETCH(QStringList, Shown);
        TApp_Fixture F;
        TFTessaroFirmWare& W = F.Connected_Window();
        F.Sim->Write_Memory(Addr_Data,
                            std::span(reinterpret_cast<const std::uint8_t*>(Block.constData()), 4));
        W.Btn_ReadData->click();
        QCOMPARE(values(W), Shown);
        QVERIFY(F.Boxes.Boxes.empty());
    }

    void Write_Data_Writes_The_Chosen_M_Bus_Codes() {
        TApp_Fixture F;
        TFTessaroFirmWare& W = F.Connected_Window();
        W.CB_Baud_MBus->setCurrentText(QStringLiteral("19200"));
        W.CB_Par_MBus->setCurrentText(QStringLiteral("EVEN"));
        W.Btn_WriteData->click();
        QVERIFY(F.Sim->Wait_For([](const TSimCounters& C) { return C.Acks.load() >= 1; }, 30s));
        QCOMPARE(F.Sim->Read_Memory(Addr_Data, 4), (std::vector<std::uint8_t>{9, 0, 6, 1}));
        QCOMPARE(values(W), QStringList(4, QStringLiteral(" ")));
        QVERIFY(F.Boxes.Boxes.empty());
    }

    void The_Protection_Word_Admits_Or_Refuses_data() {
        QTest::addColumn<quint32>("Word");
        QTest::addColumn<bool>("Admitted");
        QTest::newRow("0") << quint32(0) << true;
        QTest::newRow("0xA7") << quint32(0xA7) << true;
        QTest::newRow("1") << quint32(1) << false;
        QTest::newRow("0x1A7") << quint32(0x1A7) << false;
    }
    void The_Protection_Word_Admits_Or_Refuses() {
        QFETCH(quint32, Word);
        QFETCH(bool, Admitted);
        TApp_Fixture F;
        TFTessaroFirmWare& W = F.Connected_Window();
        F.Sim->Set_Protection(Word);
        F.Write_Image(F.Image_Bytes(300));
        W.Btn_ReadData->click();
        W.Btn_WriteData->click();
        if (Admitted) // the write runs on after the click; an update pressed meanwhile would be refused
            QTRY_VERIFY_WITH_TIMEOUT(W.Worker()->stato.load() == St_Idle, 30000);
        W.Btn_UpdateFirm->click();
        if (Admitted) {
            QVERIFY(F.Boxes.Boxes.empty());
            QCOMPARE(W.L_SP_R_Ser_Baud_Val->text(), QStringLiteral("115200"));
            QCOMPARE(W.L_Status->text(), entry(leUpdate_Done));
            QVERIFY(F.Sim->Counters().Writes.load() > 0);
            return;
        }
        QCOMPARE(F.Boxes.Boxes.size(), std::size_t(3));
        for (const TShown_Box& Box : F.Boxes.Boxes) {
            QCOMPARE(Box.Text, entry(leProtection));
            QCOMPARE(Box.Icon, TBox_Icon::Error);
        }
        QCOMPARE(values(W), QStringList(4, QStringLiteral(" ")));
        QCOMPARE(F.Sim->Counters().Writes.load(), 0u);
        QCOMPARE(W.L_Status->text(), QStringLiteral(" "));
    }

    void A_Silent_Converter_Fails_Every_Command() {
        TApp_Fixture F;
        TSimOptions Options;
        Options.Fault_Plan = plan("silent@1-");
        TFTessaroFirmWare& W = F.Connected_Window(Options);
        F.Write_Image(F.Image_Bytes(300));
        QVERIFY(W.Connected());
        W.Btn_ReadData->click();
        QCOMPARE(F.Boxes.Boxes.size(), std::size_t(1));
        QCOMPARE(F.Boxes.Boxes[0].Text, entry(leRead_Data_Error));
        QCOMPARE(values(W), QStringList(4, QStringLiteral(" ")));
        // No judged protection word: nothing is written, and the status says so.
        W.Btn_WriteData->click();
        QCOMPARE(F.Boxes.Boxes.size(), std::size_t(1));
        QVERIFY(W.L_Status->text().endsWith(QStringLiteral(": Error")));
        W.Btn_UpdateFirm->click();
        QCOMPARE(W.L_Status->text(), entry(leWrite_Firmware_Error));
        QCOMPARE(F.Sim->Counters().Writes.load(), 0u);
    }

    void An_Unacknowledged_Write_Is_Reported() {
        TApp_Fixture F;
        TSimOptions Options;
        Options.Fault_Plan = plan("drop-ack@1");
        TFTessaroFirmWare& W = F.Connected_Window(Options);
        W.Btn_WriteData->click();
        QVERIFY(W.L_Status->text().endsWith(QStringLiteral(": Error")));
        QVERIFY(F.Boxes.Boxes.empty());
        // The next write is acknowledged and leaves the status alone.
        W.L_Status->setText(QStringLiteral(" "));
        W.Btn_WriteData->click();
        QCOMPARE(W.L_Status->text(), QStringLiteral(" "));
    }

    void A_Failed_Read_Keeps_The_Values_Of_The_Good_One() {
        TApp_Fixture F;
        TSimOptions Options;
        Options.Fault_Plan = plan("corrupt@3-");
        TFTessaroFirmWare& W = F.Connected_Window(Options);
        W.Btn_ReadData->click();
        const QStringList Good{"115200", "NONE", "9600", "NONE"};
        QCOMPARE(values(W), Good);
        W.Btn_ReadData->click();
        QCOMPARE(F.Boxes.Boxes.size(), std::size_t(1));
        QCOMPARE(F.Boxes.Boxes[0].Text, entry(leRead_Data_Error));
        QCOMPARE(values(W), Good);
    }

    void An_Update_Writes_Reads_Back_And_Compares_data() {
        QTest::addColumn<int>("Size");
        QTest::addColumn<bool>("Read_Back");
        QTest::newRow("1000 bytes, read back") << 1000 << true;
        QTest::newRow("1000 bytes, no read-back") << 1000 << false;
        QTest::newRow("one whole block") << 128 << true;
    }
    void An_Update_Writes_Reads_Back_And_Compares() {
        QFETCH(int, Size);
        QFETCH(bool, Read_Back);
        TApp_Fixture F;
        TFTessaroFirmWare& W = F.Connected_Window();
        const auto Image = F.Image_Bytes(static_cast<std::size_t>(Size), 5);
        F.Write_Image(Image);
        W.CB_Firm_Read->setChecked(Read_Back);
        W.Btn_UpdateFirm->click();
        QCOMPARE(W.L_Status->text(), entry(leUpdate_Done));
        QCOMPARE(W.GPB->value(), 100);
        QVERIFY(F.Boxes.Boxes.empty());
        QCOMPARE(F.Sim->Read_Memory(Addr_Prg_Start, Image.size()), Image);
        QCOMPARE(F.Sim->Counters().Writes.load(), static_cast<std::uint32_t>((Size + 127) / 128));
        QVERIFY(F.Readback_Files().isEmpty());
    }

    void A_Read_Back_That_Differs_Shows_Its_Text() {
        TApp_Fixture F;
        TFTessaroFirmWare& W = F.Connected_Window();
        auto Image = F.Image_Bytes(1000, 6);
        F.Write_Image(Image);
        W.CB_Firm_Read->setChecked(true);
        // The image changes on disk once it has been written, so the read-back no longer matches it.
        Image[500] ^= 0xFF;
        TWhen Change([&] { return W.L_Status->text() == entry(leRead_Firmware); },
                     [&] { F.Write_Image(Image); });
        W.Btn_UpdateFirm->click();
        QVERIFY(Change.Done());
        QCOMPARE(W.L_Status->text(), entry(leRead_Back_Error));
        QVERIFY(F.Readback_Files().isEmpty());
    }

    void Unusable_Images_Are_Refused_Unsent_data() {
        QTest::addColumn<int>("Size");
        QTest::newRow("empty") << 0;
        QTest::newRow("larger than the program region") << int(Addr_Prg_End - Addr_Prg_Start + 2);
    }
    void Unusable_Images_Are_Refused_Unsent() {
        QFETCH(int, Size);
        TApp_Fixture F;
        TFTessaroFirmWare& W = F.Connected_Window();
        F.Write_Image(F.Image_Bytes(static_cast<std::size_t>(Size)));
        W.CB_Firm_Read->setChecked(true);
        W.Btn_UpdateFirm->click();
        QCOMPARE(W.L_Status->text(), entry(leWrite_Firmware_Error));
        QCOMPARE(F.Sim->Counters().Writes.load(), 0u);
        QCOMPARE(F.Sim->Counters().Reads.load(), 1u); // the protection word only
        QVERIFY(F.Readback_Files().isEmpty());
        QVERIFY(W.Connected());
    }

    void A_Missing_Image_Is_Reported() {
        TApp_Fixture F;
        TFTessaroFirmWare& W = F.Connected_Window();
        W.Btn_UpdateFirm->click();
        QCOMPARE(F.Boxes.Boxes.size(), std::size_t(1));
        QCOMPARE(F.Boxes.Boxes[0].Text, entry(leFirmware_Missing));
        QCOMPARE(F.Boxes.Boxes[0].Icon, TBox_Icon::Error);
        QCOMPARE(F.Sim->Counters().Writes.load(), 0u);
    }

    void Disconnect_During_An_Update_Ends_It_At_Once_data() {
        QTest::addColumn<bool>("Read_Back");
        QTest::addColumn<int>("Failed_Step");
        QTest::newRow("while writing") << false << int(leWrite_Firmware_Error);
        QTest::newRow("while reading back") << true << int(leRead_Firmware_Error);
    }
    void Disconnect_During_An_Update_Ends_It_At_Once() {
        QFETCH(bool, Read_Back);
        QFETCH(int, Failed_Step);
        TApp_Fixture F;
        TFTessaroFirmWare& W = F.Connected_Window(slow_program());
        F.Write_Image(F.Image_Bytes(64 * 128, 7));
        W.CB_Firm_Read->setChecked(Read_Back);
        const TLang_Entry Phase = Read_Back ? leRead_Firmware : leWrite_Firmware;
        TWhen Press([&] { return W.L_Status->text() == entry(Phase) && W.Worker()->nciclo.load() >= 2; },
                    [&] { W.Btn_Disconnect->click(); });
        W.Btn_UpdateFirm->click();
        QVERIFY(Press.Done());
        QCOMPARE(W.L_Status->text(),
                 entry(TLang_Entry(Failed_Step)) + QStringLiteral(" - ") + entry(leCon_Disconnected));
        QVERIFY(!W.Connected());
        QVERIFY(W.Worker() == nullptr);
        QVERIFY(!W.T_Auto->isActive());
        QVERIFY(F.Readback_Files().isEmpty());
        // The port is free again at once.
        F.Select_Port(QStringLiteral("COM9"));
        W.Btn_Connect->click();
        QVERIFY(W.Connected());
    }

    void The_Terminal_Hanging_Up_During_An_Update_Ends_It() {
        TApp_Fixture F;
        TSimOptions Options = slow_program();
        Options.Fault_Plan = plan("hangup@5");
        TFTessaroFirmWare& W = F.Connected_Window(Options);
        F.Write_Image(F.Image_Bytes(64 * 128, 8));
        W.Btn_UpdateFirm->click();
        QCOMPARE(W.L_Status->text(),
                 entry(leWrite_Firmware_Error) + QStringLiteral(" - ") + entry(leCon_Disconnected));
        QCOMPARE(W.L_Con_Res->text(), entry(leCon_Disconnected));
        QVERIFY(!W.Connected());
        QVERIFY(W.Worker() == nullptr);
    }

    void The_Link_Dropping_During_Read_Data_Is_Reported() {
        TApp_Fixture F;
        TSimOptions Options;
        Options.Fault_Plan = plan("hangup@1");
        TFTessaroFirmWare& W = F.Connected_Window(Options);
        W.Btn_ReadData->click();
        QCOMPARE(F.Boxes.Boxes.size(), std::size_t(1));
        QCOMPARE(F.Boxes.Boxes[0].Text, entry(leRead_Data_Error) + u'\n' + entry(leCon_Disconnected));
        QVERIFY(!W.Connected());
        QCOMPARE(W.L_Con_Res->text(), entry(leCon_Disconnected));
    }

    void Commands_Pressed_During_An_Update_Are_Refused_And_It_Goes_On_data() {
        QTest::addColumn<QString>("Button");
        QTest::addColumn<QString>("Refusal");
        QTest::newRow("Update Firmware") << "Btn_UpdateFirm" << entry(leWrite_Firmware_Error);
        QTest::newRow("Read Data") << "Btn_ReadData" << entry(leRead_Data_Error);
        QTest::newRow("Write Data") << "Btn_WriteData" << entry(leBtn_WriteData) + QStringLiteral(": Error");
    }
    void Commands_Pressed_During_An_Update_Are_Refused_And_It_Goes_On() {
        QFETCH(QString, Button);
        QFETCH(QString, Refusal);
        TApp_Fixture F;
        TFTessaroFirmWare& W = F.Connected_Window(slow_program());
        const auto Image = F.Image_Bytes(32 * 128, 9);
        F.Write_Image(Image);
        W.CB_Firm_Read->setChecked(true);
        QString Shown;
        TWhen Press([&] { return F.Sim->Counters().Writes.load() >= 2; },
                    [&] {
                        W.findChild<QPushButton*>(Button)->click();
                        Shown = W.L_Status->text();
                    });
        W.Btn_UpdateFirm->click();
        QVERIFY(Press.Done());
        QCOMPARE(Shown, Refusal);
        QCOMPARE(W.L_Status->text(), entry(leUpdate_Done));
        QVERIFY(F.Boxes.Boxes.empty());
        QCOMPARE(F.Sim->Read_Memory(Addr_Prg_Start, Image.size()), Image);
        QCOMPARE(F.Sim->Read_Memory(Addr_Data, 4), (std::vector<std::uint8_t>{9, 0, 5, 0}));
    }

    void Closing_During_An_Update_Ends_It() {
        TApp_Fixture F;
        TFTessaroFirmWare& W = F.Connected_Window(slow_program());
        F.Write_Image(F.Image_Bytes(64 * 128, 10));
        TWhen Press([&] { return F.Sim->Counters().Writes.load() >= 2; }, [&] { W.Btn_Close->click(); });
        W.Btn_UpdateFirm->click();
        QVERIFY(Press.Done());
        QVERIFY(W.Worker() == nullptr);
        QVERIFY(QFileInfo::exists(F.Path(QStringLiteral("Tessaro.xml"))));
    }
};

QTEST_MAIN(TCommands)
#include "tst_commands.moc"
