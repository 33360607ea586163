#include "options_test_util.h"

#include "update_check.h"

#include <QLabel>

#include <memory>

class TestUpdateCheck : public QObject {
    Q_OBJECT

    THttp_Test_Server* server = nullptr;
    QObject context;

private slots:
    void init() {
        reset_program_state(QString());
        server = new THttp_Test_Server;
        QVERIFY(server->Listening);
        use_update_server(server->Base_Url());
    }
    void cleanup() {
        delete server;
        server = nullptr;
        qunsetenv(Maker_Server_Variable);
    }

    void addresses_data() {
        QTest::addColumn<QByteArray>("variable");
        QTest::addColumn<QString>("base");
        QTest::newRow("unset: the maker's server") << QByteArray() << "http://www.velmora.example";
        QTest::newRow("mirror") << QByteArray("http://127.0.0.1:8080") << "http://127.0.0.1:8080";
        QTest::newRow("trailing slash") << QByteArray("http://127.0.0.1:8080/") << "http://127.0.0.1:8080";
    }
    void addresses() {
        QFETCH(QByteArray, variable);
        QFETCH(QString, base);
        if (variable.isNull())
            qunsetenv(Maker_Server_Variable);
        else
            qputenv(Maker_Server_Variable, variable);
        QCOMPARE(Maker_Base_Url(), base);
        QCOMPARE(Version_Query_Url(), base + "/home/download/GetversionSW.asp?nomesw=SW40815");
        QCOMPARE(Download_Page_Url(), base + "/Home/download/download.asp#HD40815");
        QCOMPARE(Home_Page_Url(), base + "/HOME/default.asp?frompg=SW40815");
    }

    void conv_version_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("number");
        QTest::newRow("word and version") << "VER. 1.234" << 1234;
        QTest::newRow("bare version") << "1.500" << 1500;
        QTest::newRow("the point is never looked at") << "VER. 1,234" << 1234;
        QTest::newRow("rest after five characters ignored") << "VER. 1.2345 beta" << 1234;
        QTest::newRow("no blank: whole text") << "VER.1.500" << -1;
        QTest::newRow("two digits before the point") << "VER. 10.00" << -1;
        QTest::newRow("too short") << "VER. 1.0" << -1;
        QTest::newRow("empty") << "" << -1;
        QTest::newRow("sign is no digit") << "VER. -.001" << -1;
    }
    void conv_version() {
        QFETCH(QString, text);
        QFETCH(int, number);
        QCOMPARE(Conv_Version(text), number);
    }

    // The server's answer decides; the request is always the same one.
    void answers_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("newer");
        QTest::newRow("1.001 newer") << QByteArray("VER. 1.001") << true;
        QTest::newRow("1.000 equal") << QByteArray("VER. 1.000") << false;
        QTest::newRow("0.999 older") << QByteArray("VER. 0.999") << false;
        QTest::newRow("0.000 marker") << QByteArray("VER. 0.000") << false;
        QTest::newRow("0.000 lower case, padded") << QByteArray("  ver. 0.000 \r\n") << false;
        QTest::newRow("0.000 between line ends") << QByteArray("\r\n\tVer. 0.000\r\n\r\n") << false;
        QTest::newRow("lower-case word, newer") << QByteArray("ver. 2.000") << true;
        QTest::newRow("bare version, newer") << QByteArray("1.500") << true;
        QTest::newRow("newer with line end") << QByteArray("VER. 1.001\r\n") << true;
        QTest::newRow("no blank") << QByteArray("VER.1.500") << false;
        QTest::newRow("two digits before the point") << QByteArray("VER. 10.00") << false;
        QTest::newRow("too short") << QByteArray("VER. 1.0") << false;
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("version then a megabyte of blanks")
            << QByteArray("VER. 1.001" + QByteArray(1 << 20, ' ')) << true;
        QTest::newRow("a page instead of a version")
            << QByteArray("<html><body>Not here</body></html>") << false;
    }
    void answers() {
        QFETCH(QByteArray, body);
        QFETCH(bool, newer);
        server->Reply("200 OK", body);
        TUpdate_Check check;
        QCOMPARE(run_check(check, context), std::optional<bool>(newer));
        QCOMPARE(server->Requests.size(), 1);
    }

    void request_is_one_plain_get() {
        server->Reply("200 OK", "VER. 1.000");
        TUpdate_Check check;
        QVERIFY(run_check(check, context).has_value());
        QCOMPARE(server->Requests.size(), 1);
        const QByteArray request = server->Requests.first();
        const QList<QByteArray> lines = request.split('\n');
        QCOMPARE(lines.first(), QByteArray("GET /home/download/GetversionSW.asp?nomesw=SW40815 HTTP/1.0\r"));
        QVERIFY(lines.contains("Accept: text/html,application/xhtml+xml,application/xml;q=0.9,*/*;q=0.8\r"));
        QVERIFY(lines.contains("User-Agent: Mozilla/3.0 (compatible; Indy Library)\r"));
        QVERIFY(!request.toLower().contains("cookie"));
        QVERIFY(!request.toLower().contains("authorization"));
    }

    void failures_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("connection refused") << "refused";
        QTest::newRow("not found, body names a newer version") << "404";
        QTest::newRow("server error") << "500";
        QTest::newRow("never answers") << "silent";
    }
    void failures() {
        QFETCH(QString, kind);
        TUpdate_Check check;
        check.Set_Timeout_Ms(500);
        if (kind == "refused") {
            THttp_Test_Server closed;
            const QString url = closed.Base_Url();
            delete server; // the port now has no listener
            server = nullptr;
            use_update_server(url);
        } else if (kind == "404") {
            server->Reply("404 Not Found", "VER. 9.999");
        } else if (kind == "500") {
            server->Reply("500 Internal Server Error", "VER. 9.999");
        } else {
            server->Mode = THttp_Test_Server::TMode::Silent;
        }
        QCOMPARE(run_check(check, context), std::optional<bool>(false));
    }

    void default_time_out_is_our_own() { QCOMPARE(TUpdate_Check().Timeout_Ms(), 15'000L); }

    void requests_during_a_check_share_its_answer() {
        server->Reply("200 OK", "VER. 1.001");
        TUpdate_Check check;
        std::optional<bool> first, second;
        check.Check_Version(&context, [&](bool Newer) { first = Newer; });
        QVERIFY(check.Busy());
        check.Check_Version(&context, [&](bool Newer) { second = Newer; });
        QVERIFY(QTest::qWaitFor([&] { return first && second; }, 30'000));
        QCOMPARE(*first, true);
        QCOMPARE(*second, true);
        QCOMPARE(server->Requests.size(), 1);
        QVERIFY(!check.Busy());
    }

    void a_gone_context_is_not_called() {
        server->Reply("200 OK", "VER. 1.001");
        TUpdate_Check check;
        bool called = false;
        auto gone = std::make_unique<QObject>();
        check.Check_Version(gone.get(), [&](bool) { called = true; });
        gone.reset();
        QVERIFY(QTest::qWaitFor([&] { return !check.Busy(); }, 30'000));
        QVERIFY(!called);
        // the check object is ready for the next one
        QCOMPARE(run_check(check, context), std::optional<bool>(true));
    }

    void ending_the_program_during_a_check_waits_for_nothing() {
        server->Mode = THttp_Test_Server::TMode::Silent;
        bool called = false;
        {
            TUpdate_Check check; // default time-out: only the cancel can end it early
            check.Check_Version(&context, [&](bool) { called = true; });
            QVERIFY(QTest::qWaitFor([&] { return server->Requests.size() == 1; }, 30'000));
        }
        QCoreApplication::processEvents();
        QVERIFY(!called);
    }

    // The main window's timer tick.
    void timer_tick_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("shown");
        QTest::newRow("newer") << "VER. 1.001" << true;
        QTest::newRow("not newer") << "VER. 1.000" << false;
        QTest::newRow("never answers") << "silent" << false;
    }
    void timer_tick() {
        QFETCH(QString, kind);
        QFETCH(bool, shown);
        if (kind == "silent")
            server->Mode = THttp_Test_Server::TMode::Silent;
        else
            server->Reply("200 OK", kind.toUtf8());
        Enable_Internet = 1;
        Enable_Update = 1;
        Lang_Strings[leLL_Update] = "Neue Version";
        Lang_Strings[leLL_Check_Update_New] = "not this entry";
        TUpdate_Check check;
        check.Set_Timeout_Ms(500);
        QWidget window;
        QTimer timer;
        timer.setInterval(Update_First_Interval_Ms);
        timer.start();
        auto* label = new QLabel("last state", &window);
        label->setVisible(!shown); // the tick must change it either way
        window.show();

        Run_Timer_Update(timer, *label, check);
        QVERIFY(!timer.isActive()); // resting while the server is asked
        QVERIFY(QTest::qWaitFor([&] { return timer.isActive(); }, 30'000));
        QCOMPARE(timer.interval(), Update_Interval_Ms);
        QCOMPARE(label->isVisible(), shown);
        if (shown) QCOMPARE(label->text(), "<a href=\"" + Download_Page_Url() + "\">Neue Version</a>");
    }

    void timer_stays_off_when_the_options_were_switched_off_meanwhile() {
        server->Mode = THttp_Test_Server::TMode::Silent;
        Enable_Internet = 1;
        Enable_Update = 1;
        TUpdate_Check check;
        check.Set_Timeout_Ms(500);
        QTimer timer;
        QLabel label;
        Run_Timer_Update(timer, label, check);
        Enable_Update = 0; // OK in the options window while the check runs
        QVERIFY(QTest::qWaitFor([&] { return !check.Busy(); }, 30'000));
        QCOMPARE(timer.interval(), Update_Interval_Ms);
        QVERIFY(!timer.isActive());
    }

    void link_text_is_escaped() {
        QLabel label;
        Show_Download_Link(label, "Neu <b>&</b>");
        QCOMPARE(label.text(), "<a href=\"" + Download_Page_Url() + "\">Neu &lt;b&gt;&amp;&lt;/b&gt;</a>");
        QCOMPARE(label.textFormat(), Qt::RichText);
    }

    void a_clicked_link_goes_to_the_browser() {
        TRecording_Ui_Seam seam;
        Open_Link_Href(Download_Page_Url());
        QCOMPARE(seam.Opened, QList<QUrl>{QUrl(Download_Page_Url())});
        QVERIFY(seam.Messages.isEmpty());
    }
};

QTEST_MAIN(TestUpdateCheck)
#include "test_update_check.moc"
