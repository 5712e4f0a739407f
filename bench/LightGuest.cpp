#include "bench/LightGuest.h"

#include "tests/support/LightPublisher.h"

#include <QJsonDocument>
#include <QTest>

LightGuest::LightGuest(const EncodedClip &clip, QObject *parent)
    : QObject(parent)
    , m_clip(clip)
{
    connect(&m_socket, &QWebSocket::textMessageReceived, this, &LightGuest::received);
}

/// The stream goes first: the relay has its place free before the service hears of the leave.
LightGuest::~LightGuest()
{
    m_stream.reset();
    m_socket.close();
}

bool LightGuest::join(const QString &portal, const QString &roomKey, const QString &pin,
                      const QString &name)
{
    m_socket.open(QUrl(QStringLiteral("ws://%1/conference").arg(portal)));
    if (!QTest::qWaitFor([this] { return m_socket.state() == QAbstractSocket::ConnectedState; },
                         5000))
        return false;
    send({{"type", "guestJoin"}, {"roomKey", roomKey}, {"pin", pin}, {"name", name}});
    if (!QTest::qWaitFor([this] { return m_media.value("available").toBool(); }, 10000))
        return false;
    m_stream = std::make_unique<LightPublisher>(m_media, m_media.value("id").toInteger(), m_uri);
    m_stream->sendClip(&m_clip);
    m_stream->start();
    return true;
}

bool LightGuest::answered() const
{
    return m_stream && m_stream->answered();
}

QString LightGuest::error() const
{
    return m_stream ? m_stream->error() : QString();
}

qint64 LightGuest::bytesSent() const
{
    return m_stream ? m_stream->bytesSent() : 0;
}

void LightGuest::received(const QString &text)
{
    const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
    const QString type = message.value("type").toString();
    if (type == u"conference")
        m_uri = message.value("uri").toString();
    else if (type == u"media" && m_media.isEmpty())
        m_media = message;
}

void LightGuest::send(const QJsonObject &message)
{
    m_socket.sendTextMessage(QString::fromUtf8(QJsonDocument(message).toJson()));
}
