#include "tests/support/JanusProbe.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMessageAuthenticationCode>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QSignalSpy>

#include <memory>

JanusProbe::JanusProbe(const QString &dataPath)
    : m_dataPath(dataPath)
{}

namespace {

QString configured(const QString &dataPath, const QString &file, const QString &pattern)
{
    QFile config(QDir(dataPath).filePath(QStringLiteral("janus/") + file));
    if (!config.open(QIODevice::ReadOnly))
        return {};
    return QRegularExpression(pattern).match(QString::fromUtf8(config.readAll())).captured(1);
}

} // namespace

QString JanusProbe::relaySecrets() const
{
    const QString pattern = QStringLiteral(" = \"([^\"]*)\"");
    return QStringLiteral("token_auth_secret = %1\nadmin_key = %2\n")
        .arg(configured(m_dataPath, QStringLiteral("janus.jcfg"),
                        QStringLiteral("token_auth_secret") + pattern),
             configured(m_dataPath, QStringLiteral("janus.plugin.videoroom.jcfg"),
                        QStringLiteral("admin_key") + pattern));
}

QString JanusProbe::signedToken() const
{
    const QString secret = configured(m_dataPath, QStringLiteral("janus.jcfg"),
                                      QStringLiteral("token_auth_secret = \"([^\"]*)\""));
    const QByteArray data = QByteArray::number(QDateTime::currentSecsSinceEpoch() + 600) +
                            ",janus,janus.plugin.videoroom";
    return QString::fromLatin1(
        data + ':' +
        QMessageAuthenticationCode::hash(data, secret.toLatin1(), QCryptographicHash::Sha1)
            .toBase64());
}

QJsonObject JanusProbe::request(const QString &path, QJsonObject body) const
{
    return requestWithToken(path, body, signedToken());
}

QJsonObject JanusProbe::requestWithToken(const QString &path, QJsonObject body,
                                         const QString &token) const
{
    const QString port = configured(m_dataPath, QStringLiteral("janus.transport.http.jcfg"),
                                    QStringLiteral("port = (\\d+)"));
    QString ip = configured(m_dataPath, QStringLiteral("janus.transport.http.jcfg"),
                            QStringLiteral("ip = \"([^\"]*)\""));
    if (port.isEmpty())
        return {};
    if (ip.isEmpty() || ip == u"0.0.0.0")
        ip = QStringLiteral("127.0.0.1");
    const QString base = QStringLiteral("http://%1:%2/janus").arg(ip, port);
    body.insert(QStringLiteral("transaction"),
                QStringLiteral("t%1").arg(QDateTime::currentMSecsSinceEpoch()));
    if (!token.isEmpty())
        body.insert(QStringLiteral("token"), token);
    QNetworkAccessManager http;
    QNetworkRequest post(QUrl(base + path));
    post.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    std::unique_ptr<QNetworkReply> reply(http.post(post, QJsonDocument(body).toJson()));
    QSignalSpy done(reply.get(), &QNetworkReply::finished);
    if (!done.wait(5000))
        return {};
    QJsonObject answer = QJsonDocument::fromJson(reply->readAll()).object();
    if (answer.value(QStringLiteral("janus")).toString() != u"ack")
        return answer;
    const QString session = path.section(u'/', 1, 1);
    QUrl events(base + u'/' + session);
    if (!token.isEmpty())
        events.setQuery(QStringLiteral("token=") +
                            QString::fromLatin1(QUrl::toPercentEncoding(token)),
                        QUrl::StrictMode);
    std::unique_ptr<QNetworkReply> poll(http.get(QNetworkRequest(events)));
    QSignalSpy polled(poll.get(), &QNetworkReply::finished);
    return polled.wait(35000) ? QJsonDocument::fromJson(poll->readAll()).object() : QJsonObject();
}

QString JanusProbe::attachToVideoRoom() const
{
    const qint64 session =
        request({}, {{"janus", "create"}}).value("data").toObject().value("id").toInteger();
    if (session == 0)
        return {};
    const QString s = QStringLiteral("/%1").arg(session);
    const qint64 handle = request(s, {{"janus", "attach"}, {"plugin", "janus.plugin.videoroom"}})
                              .value("data")
                              .toObject()
                              .value("id")
                              .toInteger();
    return handle == 0 ? QString() : s + QStringLiteral("/%1").arg(handle);
}

QJsonObject JanusProbe::roomRequest(const QString &handle, const QJsonObject &body) const
{
    return request(handle, {{"janus", "message"}, {"body", body}})
        .value("plugindata")
        .toObject()
        .value("data")
        .toObject();
}

QStringList JanusProbe::inRoom(qint64 room) const
{
    const QString h = attachToVideoRoom();
    const QJsonArray people = roomRequest(h, {{"request", "listparticipants"}, {"room", room}})
                                  .value("participants")
                                  .toArray();
    request(h.section(u'/', 0, 1), {{"janus", "destroy"}});
    QStringList displays;
    for (const QJsonValue &p : people)
        displays.append(p.toObject().value("display").toString());
    return displays;
}

qsizetype JanusProbe::sharesIn(qint64 room) const
{
    return inRoom(room).filter(QRegularExpression(QStringLiteral("^share:"))).size();
}
