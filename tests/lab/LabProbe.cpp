// A small network probe for the lab's hosts, started in one with `ip netns exec`:
//
//   serve <port>...          listens on TCP and UDP of each port; says "listening", then
//                            "tcp <peer address> <port>" per connection and
//                            "udp <peer address> <port>" per datagram
//   udp <address> <port> <count>   sends <count> datagrams a little apart, says "sent <count>"
//   tcp <address> <port>     says "connected" (status 0) or why not (status 1)
//   post <url> <CA file> <body>    POSTs the JSON body, trusting the CA file's certificates;
//                            says the answer (status 0) or why there is none (status 1)

#include <QCoreApplication>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkDatagram>
#include <QNetworkReply>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QUdpSocket>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

void say(const QString &line)
{
    std::fputs((line + u'\n').toUtf8().constData(), stdout);
    std::fflush(stdout);
}

QString peer(const QHostAddress &address)
{
    return QHostAddress(address.toIPv4Address()).toString();
}

int serve(const QStringList &ports)
{
    std::vector<std::unique_ptr<QTcpServer>> servers;
    std::vector<std::unique_ptr<QUdpSocket>> sockets;
    for (const QString &word : ports) {
        const quint16 port = quint16(word.toUInt());
        auto *server = servers.emplace_back(std::make_unique<QTcpServer>()).get();
        auto *socket = sockets.emplace_back(std::make_unique<QUdpSocket>()).get();
        if (!server->listen(QHostAddress::AnyIPv4, port) ||
            !socket->bind(QHostAddress::AnyIPv4, port)) {
            say(QStringLiteral("cannot listen on %1").arg(port));
            return 1;
        }
        QObject::connect(server, &QTcpServer::newConnection, server, [server, port] {
            while (QTcpSocket *connection = server->nextPendingConnection()) {
                say(QStringLiteral("tcp %1 %2").arg(peer(connection->peerAddress())).arg(port));
                connection->deleteLater();
            }
        });
        QObject::connect(socket, &QUdpSocket::readyRead, socket, [socket, port] {
            while (socket->hasPendingDatagrams())
                say(QStringLiteral("udp %1 %2")
                        .arg(peer(socket->receiveDatagram().senderAddress()))
                        .arg(port));
        });
    }
    say(QStringLiteral("listening"));
    return QCoreApplication::exec();
}

int sendUdp(const QString &address, quint16 port, int count)
{
    QUdpSocket socket;
    for (int i = 0; i < count; ++i) {
        socket.writeDatagram(QByteArray::number(i), QHostAddress(address), port);
        QThread::msleep(2); // the receiver's buffer never overflows
    }
    say(QStringLiteral("sent %1").arg(count));
    return 0;
}

int connectTcp(const QString &address, quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress(address), port);
    if (socket.waitForConnected(2000)) {
        say(QStringLiteral("connected"));
        return 0;
    }
    say(socket.errorString());
    return 1;
}

int post(const QString &url, const QString &caFile, const QByteArray &body)
{
    QNetworkAccessManager http;
    QNetworkRequest request{QUrl(url)};
    QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
    ssl.addCaCertificates(caFile);
    request.setSslConfiguration(ssl);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setTransferTimeout(10000);
    QNetworkReply *reply = http.post(request, body);
    QObject::connect(reply, &QNetworkReply::finished, reply, [] { QCoreApplication::quit(); });
    QCoreApplication::exec();
    const QByteArray answer = reply->readAll();
    if (answer.isEmpty()) {
        say(reply->errorString());
        return 1;
    }
    say(QString::fromUtf8(answer).simplified());
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList words = app.arguments().mid(1);
    const QString mode = words.value(0);
    if (mode == u"serve" && words.size() > 1)
        return serve(words.mid(1));
    if (mode == u"udp" && words.size() == 4)
        return sendUdp(words[1], quint16(words[2].toUInt()), words[3].toInt());
    if (mode == u"tcp" && words.size() == 3)
        return connectTcp(words[1], quint16(words[2].toUInt()));
    if (mode == u"post" && words.size() == 4)
        return post(words[1], words[2], words[3].toUtf8());
    say(QStringLiteral("usage: serve <port>... | udp <address> <port> <count> | "
                       "tcp <address> <port> | post <url> <CA file> <body>"));
    return 2;
}
