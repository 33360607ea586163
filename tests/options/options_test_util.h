#pragma once
// Doubles shared by the options and About window tests: a seam that records instead of showing
// boxes or opening a browser, a stand-in for the main window, and a small HTTP server on
// 127.0.0.1 that records each request it gets.

#include "UComon.h"
#include "ULanguage.h"
#include "USoftOptions.h"
#include "lang_apply.h"
#include "ui_seam.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <optional>

struct TRecording_Ui_Seam final : TUi_Seam {
    struct TMessage {
        QString Text;
        TBox_Icon Icon;
    };
    QList<TMessage> Messages;
    QStringList Questions;
    bool Answer_Yes = true;
    QList<QUrl> Opened;

    TRecording_Ui_Seam() { Set_Ui_Seam(this); }
    ~TRecording_Ui_Seam() override { Set_Ui_Seam(nullptr); }
    void Message(QWidget*, const QString& Text, TBox_Icon Icon) override { Messages.append({Text, Icon}); }
    bool Ask_Yes_No(QWidget*, const QString& Text) override {
        Questions.append(Text);
        return Answer_Yes;
    }
    void Open_Link(const QUrl& Url) override { Opened.append(Url); }
};

// Stands for the main window: one control of its own string table, and its update timer with
// the enabling rule the options window relies on.
struct TFake_Host final : TOptions_Host {
    QWidget Main;
    QPushButton* Btn_Connect;
    TFSoftOptions* Options = nullptr;
    QTimer Timer_Update;

    TFake_Host() : Btn_Connect(new QPushButton(&Main)) {
        Btn_Connect->setObjectName("Btn_Connect");
        Timer_Update.setInterval(60'000);
    }
    void Change_Language() override {
        Apply_Lang_Targets(Main, Main_Lang_Targets);
        if (Options) Options->Set_Lang();
    }
    void Set_Update_Timer() override {
        if (Enable_Internet == 1 && Enable_Update == 1) {
            if (!Timer_Update.isActive()) Timer_Update.start();
        } else {
            Timer_Update.stop();
        }
    }
};

class THttp_Test_Server {
public:
    enum class TMode { Answer, Silent };

    THttp_Test_Server() {
        Listening = Server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&Server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* s = Server.nextPendingConnection())
                serve(s);
        });
    }
    QString Base_Url() const { return QStringLiteral("http://127.0.0.1:%1").arg(Server.serverPort()); }
    void Reply(const QByteArray& Status, const QByteArray& Body) {
        Mode = TMode::Answer;
        Reply_Status = Status;
        Reply_Body = Body;
    }

    bool Listening = false;
    TMode Mode = TMode::Answer;
    QByteArray Reply_Status = "200 OK";
    QByteArray Reply_Body;
    QList<QByteArray> Requests; // each request's head, up to and with the blank line

private:
    void serve(QTcpSocket* Socket) {
        auto* buffer = new QByteArray;
        QObject::connect(Socket, &QObject::destroyed, [buffer] { delete buffer; });
        QObject::connect(Socket, &QTcpSocket::disconnected, Socket, &QObject::deleteLater);
        QObject::connect(Socket, &QTcpSocket::readyRead, Socket, [this, Socket, buffer] {
            buffer->append(Socket->readAll());
            const qsizetype end = buffer->indexOf("\r\n\r\n");
            if (end < 0) return;
            Requests.append(buffer->left(end + 4));
            buffer->clear();
            if (Mode == TMode::Silent) return;
            Socket->write("HTTP/1.0 " + Reply_Status + "\r\nContent-Type: text/html\r\nContent-Length: " +
                          QByteArray::number(Reply_Body.size()) + "\r\n\r\n" + Reply_Body);
            Socket->disconnectFromHost();
        });
    }

    QTcpServer Server;
};

// Points the program at the test's server and keeps requests away from any proxy.
inline void use_update_server(const QString& Base_Url) {
    for (const char* proxy :
         {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        qunsetenv(proxy);
    qputenv(Maker_Server_Variable, Base_Url.toUtf8());
}

// Runs one check and waits for its answer with a bound far above any local round trip.
inline std::optional<bool> run_check(TUpdate_Check& Check, QObject& Context) {
    std::optional<bool> result;
    Check.Check_Version(&Context, [&result](bool Newer) { result = Newer; });
    (void)QTest::qWaitFor([&result] { return result.has_value(); }, 30'000);
    return result;
}

// The language folder and the settings values a test starts from.
inline void reset_program_state(const QString& Language_Folder) {
    Path_Language = Language_Folder;
    SW_Code = SW_Code_Const;
    Language_Name = QStringLiteral("English");
    Enable_Internet = 0;
    Enable_Update = 0;
    Load_Default_Strings();
}
