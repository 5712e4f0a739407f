#include "bench/SimulatedEngine.h"

#include <QJsonDocument>

SimulatedEngine::SimulatedEngine(int index, int instance, QObject *parent)
    : QObject(parent)
    , m_index(index)
    , m_instance(instance)
{
    connect(&m_socket, &QWebSocket::connected, this, &SimulatedEngine::connected);
    connect(&m_socket, &QWebSocket::textMessageReceived, this, &SimulatedEngine::heard);
    connect(&m_socket, &QWebSocket::disconnected, this, [this] {
        loseSession(QStringLiteral("closed: %1 %2")
                        .arg(int(m_socket.closeCode()))
                        .arg(m_socket.closeReason()));
    });
}

void SimulatedEngine::open(const QUrl &url)
{
    m_socket.open(url);
}

void SimulatedEngine::signIn(const QString &user, const QString &password)
{
    send({{"type", "signIn"}, {"user", user}, {"password", password}});
}

void SimulatedEngine::enter(const QString &roomKey)
{
    send({{"type", "guestJoin"}, {"roomKey", roomKey}});
}

void SimulatedEngine::leave()
{
    send({{"type", "leave"}});
}

void SimulatedEngine::chat(const QString &text)
{
    send({{"type", "chat"}, {"to", QString()}, {"text", text}});
}

void SimulatedEngine::heard(const QString &text)
{
    const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
    const QString type = message.value(QLatin1String("type")).toString();
    if (type == u"signedIn") {
        m_signedIn = true;
        // The URI is conf<room>-<tag>;ws; outside a room the room part is 0.
        const QString uri = message.value(QLatin1String("uri")).toString();
        m_tag = uri.section(u'-', -1).section(u';', 0, 0);
    } else if (type == u"conference") {
        m_inRoom = true;
    } else if (type == u"conferenceEnded") {
        m_inRoom = false;
    } else if (type == u"signedOut" && m_signedIn) {
        loseSession(
            QStringLiteral("signed out: %1").arg(message.value(QLatin1String("reason")).toInt()));
    }
    Q_EMIT received(message);
}

void SimulatedEngine::send(const QJsonObject &message)
{
    m_socket.sendTextMessage(
        QString::fromUtf8(QJsonDocument(message).toJson(QJsonDocument::Compact)));
}

void SimulatedEngine::loseSession(const QString &why)
{
    if (m_lost)
        return;
    m_lost = true;
    m_signedIn = m_inRoom = false;
    Q_EMIT sessionLost(why);
}
