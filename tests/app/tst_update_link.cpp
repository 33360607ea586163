// The main window's periodic update check and its link, against a server on 127.0.0.1.

#include "app_fixture.h"

#include "http_test_server.h"
#include "update_check.h"

class TUpdate_Link : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { qunsetenv(Maker_Server_Variable); }

    void Each_Tick_Shows_Or_Hides_The_Link_And_Rearms_data() {
        QTest::addColumn<QByteArray>("Answer");
        QTest::addColumn<bool>("Shown");
        QTest::newRow("newer") << QByteArray("VER. 1.001") << true;
        QTest::newRow("not newer") << QByteArray("VER. 1.000") << false;
        QTest::newRow("never answers") << QByteArray() << false;
    }
    void Each_Tick_Shows_Or_Hides_The_Link_And_Rearms() {
        QFETCH(QByteArray, Answer);
        QFETCH(bool, Shown);
        THttp_Test_Server Server;
        QVERIFY(Server.Listening);
        if (Answer.isEmpty())
            Server.Mode = THttp_Test_Server::TMode::Silent;
        else
            Server.Reply("200 OK", Answer);
        use_update_server(Server.Base_Url());
        TApp_Fixture F;
        TFTessaroFirmWare& W = F.Open_Window();
        W.show();
        FSoftOptions->Update_Check().Set_Timeout_Ms(500);
        Enable_Internet = 1;
        Enable_Update = 1;
        W.Set_Update_Timer();
        // the last state stays until a check says otherwise
        W.LL_Update->setVisible(!Shown);

        W.Timer_Update->setInterval(0); // the first tick, without its minute's wait
        QVERIFY(QTest::qWaitFor([&] { return W.Timer_Update->interval() == Update_Interval_Ms; }, 30'000));
        QVERIFY(W.Timer_Update->isActive());
        QCOMPARE(W.LL_Update->isVisible(), Shown);
        QCOMPARE(Server.Requests.size(), 1);
        if (Shown) {
            QVERIFY(W.LL_Update->text().contains(">" + entry(leLL_Update) + "</a>"));
            emit W.LL_Update->linkActivated(Download_Page_Url());
            QCOMPARE(F.Boxes.Links, std::vector<QUrl>{QUrl(Download_Page_Url())});
        }
        QVERIFY(F.Boxes.Boxes.empty()); // a check never shows a message
    }
};

QTEST_MAIN(TUpdate_Link)
#include "tst_update_link.moc"
