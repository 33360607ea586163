// The port list, Connect and Disconnect.

#include "app_fixture.h"

#include <unistd.h>

class TConnection : public QObject {
    Q_OBJECT

private slots:
    void Ports_Are_Listed_With_Their_Device_Paths() {
        TApp_Fixture F;
        TSimConverter& Sim = F.Start_Sim();
        TFTessaroFirmWare& W = F.Open_Window();
        const int Index = W.CB_ComPort->findText(QStringLiteral("COM9"));
        QVERIFY(Index >= 0);
        const QString Device = QString::fromStdString(Sim.Slave_Path());
        QCOMPARE(W.CB_ComPort->itemData(Index, Qt::ToolTipRole).toString(), Device);
        QCOMPARE(W.CB_ComPort->currentIndex(), 0);
        QVERIFY(W.EnumPorts().contains(QStringLiteral("9")));

        // Held by our own worker, the port is still listed; a refresh selects the first entry and
        // leaves the connection alone.
        F.Select_Port(QStringLiteral("COM9"));
        W.Btn_Connect->click();
        QVERIFY(W.Connected());
        W.Btn_RefreshCOM->click();
        QVERIFY(W.CB_ComPort->findText(QStringLiteral("COM9")) >= 0);
        QCOMPARE(W.CB_ComPort->currentIndex(), 0);
        QVERIFY(W.Connected());
        QCOMPARE(QString::fromStdString(W.Worker()->Com_Port.Get()), Device);
    }

    void Connect_Reports_As_Soon_As_The_Port_Is_Open() {
        TApp_Fixture F;
        TFTessaroFirmWare& W = F.Connected_Window();
        QVERIFY(W.Connected());
        QCOMPARE(W.L_Con_Res->text(), entry(leCon_Initialized));
        QVERIFY(W.L_Con_Res->toolTip().isEmpty());
        QVERIFY(W.Worker() != nullptr);
        QCOMPARE(W.Worker()->res_connessione(), 1);
        QVERIFY(F.Boxes.Boxes.empty());
    }

    void A_Failed_Connect_Says_Why_In_Its_Tooltip_data() {
        QTest::addColumn<QString>("Port");
        QTest::addColumn<QString>("Path_In_Tip");
        QTest::addColumn<QString>("Reason_In_Tip");
        QTest::newRow("not a serial device") << QStringLiteral("COM3") << QStringLiteral("plain-file")
                                             << QStringLiteral("not a serial device");
        QTest::newRow("no port at all") << QString() << QString() << QStringLiteral("no port selected");
    }
    void A_Failed_Connect_Says_Why_In_Its_Tooltip() {
        QFETCH(QString, Port);
        QFETCH(QString, Path_In_Tip);
        QFETCH(QString, Reason_In_Tip);
        TApp_Fixture F;
        QDir().mkpath(F.Path(QStringLiteral("PORTS")));
        F.Write_File(QStringLiteral("plain-file"), "x");
        QFile::link(F.Path(QStringLiteral("plain-file")), F.Path(QStringLiteral("PORTS/COM3")));
        TFTessaroFirmWare& W = F.Open_Window();
        if (Port.isEmpty())
            W.CB_ComPort->clear();
        else
            F.Select_Port(Port);
        W.Btn_Connect->click();
        QVERIFY(!W.Connected());
        QCOMPARE(W.L_Con_Res->text(), entry(leCon_Init_Error));
        QVERIFY(W.L_Con_Res->toolTip().size() > 10);
        if (!Path_In_Tip.isEmpty()) QVERIFY(W.L_Con_Res->toolTip().contains(F.Path(Path_In_Tip)));
        QVERIFY2(W.L_Con_Res->toolTip().contains(Reason_In_Tip), qPrintable(W.L_Con_Res->toolTip()));
        // The failed worker stays until Disconnect; commands do nothing meanwhile.
        QVERIFY(W.Worker() != nullptr);
        W.Btn_ReadData->click();
        QVERIFY(F.Boxes.Boxes.empty());
        W.Btn_Disconnect->click();
        QVERIFY(W.Worker() == nullptr);
        QCOMPARE(W.L_Con_Res->text(), entry(leCon_Disconnected));
        QVERIFY(W.L_Con_Res->toolTip().isEmpty());
    }

    void A_Refused_Permission_Carries_The_Access_Hint() {
        if (::geteuid() == 0) QSKIP("the superuser opens any device");
        TApp_Fixture F;
        F.Start_Sim();
        QFile::setPermissions(QString::fromStdString(F.Sim->Slave_Path()), QFileDevice::Permissions());
        TFTessaroFirmWare& W = F.Open_Window();
        F.Select_Port(QStringLiteral("COM9"));
        W.Btn_Connect->click();
        QCOMPARE(W.L_Con_Res->text(), entry(leCon_Init_Error));
        QVERIFY(W.L_Con_Res->toolTip().contains(QStringLiteral("dialout")));
    }

    void Disconnect_Releases_The_Worker_And_Its_Port() {
        TApp_Fixture F;
        TFTessaroFirmWare& W = F.Connected_Window();
        const auto Closes = F.Sim->Counters().Closes.load();
        W.Btn_Disconnect->click();
        QVERIFY(!W.Connected());
        QVERIFY(W.Worker() == nullptr);
        QCOMPARE(W.L_Con_Res->text(), entry(leCon_Disconnected));
        QVERIFY(F.Sim->Wait_For([&](const TSimCounters& C) { return C.Closes.load() > Closes; },
                                std::chrono::seconds(30)));
        // And the port opens again.
        F.Select_Port(QStringLiteral("COM9"));
        W.Btn_Connect->click();
        QVERIFY(W.Connected());
    }

    void Disconnect_Without_Connect_Shows_Its_Text() {
        TApp_Fixture F;
        TFTessaroFirmWare& W = F.Open_Window();
        W.Btn_Disconnect->click();
        QVERIFY(!W.Connected());
        QCOMPARE(W.L_Con_Res->text(), entry(leCon_Disconnected));
    }

    void Connect_While_Connected_Releases_The_First_Worker() {
        TApp_Fixture F;
        TFTessaroFirmWare& W = F.Connected_Window();
        const auto Closes = F.Sim->Counters().Closes.load();
        F.Select_Port(QStringLiteral("COM9"));
        W.Btn_Connect->click();
        // The second worker could open the port only because the first had let it go.
        QVERIFY(W.Connected());
        QVERIFY(F.Sim->Counters().Closes.load() > Closes);
        QCOMPARE(W.L_Con_Res->text(), entry(leCon_Initialized));
    }

    void Closing_After_A_Connect_Ends_The_Worker() {
        TApp_Fixture F;
        TFTessaroFirmWare& W = F.Connected_Window();
        const auto Closes = F.Sim->Counters().Closes.load();
        W.Btn_Close->click();
        QVERIFY(W.Worker() == nullptr);
        QVERIFY(F.Sim->Wait_For([&](const TSimCounters& C) { return C.Closes.load() > Closes; },
                                std::chrono::seconds(30)));
        QVERIFY(QFileInfo::exists(F.Path(QStringLiteral("Tessaro.xml"))));
    }
};

QTEST_MAIN(TConnection)
#include "tst_connection.moc"
