#pragma once
// A small HTTP server on 127.0.0.1 for the update check's tests: it records the head of every
// request it gets and answers with a set status and body, or never answers at all.

#include "update_check.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>

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
