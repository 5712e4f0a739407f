#include "tests/support/JanusProbe.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QSignalSpy>

#include <memory>

JanusProbe::JanusProbe(const QString &dataPath)
    : m_dataPath(dataPath)
{}

QJsonObject JanusProbe::request(const QString &path, QJsonObject body) const
{
    QFile config(QDir(m_dataPath).filePath(QStringLiteral("janus/janus.transport.http.jcfg")));
    if (!config.open(QIODevice::ReadOnly))
        return {};
    const auto port = QRegularExpression(QStringLiteral("port = (\\d+)"))
                          .match(QString::fromUtf8(config.readAll()));
    const QString base = QStringLiteral("http://127.0.0.1:%1/janus").arg(port.captured(1));
    body.insert(QStringLiteral("transaction"),
                QStringLiteral("t%1").arg(QDateTime::currentMSecsSinceEpoch()));
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
    std::unique_ptr<QNetworkReply> poll(http.get(QNetworkRequest(QUrl(base + u'/' + session))));
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
