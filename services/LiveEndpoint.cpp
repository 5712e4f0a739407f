#include "services/LiveEndpoint.h"

#include "services/MediaAssets.h"
#include "services/ServiceDatabase.h"
#include "services/ServicesConfig.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

using Status = QHttpServerResponse::StatusCode;

QHttpServerResponse json(const QJsonDocument &document)
{
    // The company's live service writes line breaks of its texts raw, as CR LF inside the
    // JSON strings; clients must cope, so this one does the same.
    QByteArray body = document.toJson(QJsonDocument::Compact);
    body.replace("\\r\\n", "\r\n");
    return QHttpServerResponse(QByteArrayLiteral("application/json; charset=utf-8"), body);
}

QString clockText(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

QHttpServerResponse file(const QString &path, const QByteArray &type)
{
    QFile f(path);
    if (path.isEmpty() || !f.open(QIODevice::ReadOnly))
        return QHttpServerResponse(Status::NotFound);
    return QHttpServerResponse(type, f.readAll());
}

} // namespace

LiveEndpoint::LiveEndpoint(ServiceDatabase &db, const ServicesConfig &config, MediaAssets &media)
    : m_db(db)
    , m_config(config)
    , m_media(media)
{}

QHttpServerResponse LiveEndpoint::liveList(const QString &coId) const
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    QJsonArray list;
    for (const Broadcast &b : m_db.broadcasts(coId)) {
        if (b.endsAt <= now)
            continue;
        m_media.ensureCover(b.liveId);
        list.append(QJsonObject{
            {QStringLiteral("channelId"), b.channelId},
            {QStringLiteral("hlsAddress"),
             QString(m_config.loginBase() + QStringLiteral("/live/hls/index.m3u8"))},
            {QStringLiteral("liveFlag"), b.startsAt > now ? 0 : 1},
            {QStringLiteral("liveId"), b.liveId},
            {QStringLiteral("liveImgs"),
             QJsonArray{QStringLiteral("/live/images/%1.png").arg(b.liveId)}},
            {QStringLiteral("liveName"), b.liveName},
            {QStringLiteral("liveStart"), clockText(b.startsAt)},
            {QStringLiteral("liveEnd"), clockText(b.endsAt)},
            {QStringLiteral("onLineNum"), QString::number(b.startsAt > now ? 0 : 37)},
            {QStringLiteral("onlineMax"), QString::number(b.onlineMax)},
            {QStringLiteral("rtmpAddress"),
             QStringLiteral("rtmp://%1/live/%2").arg(m_config.advertisedHost(), b.channelId)},
            {QStringLiteral("liveRemark"), b.liveRemark},
            {QStringLiteral("timestamp"), b.startsAt > now ? b.startsAt - now : 0},
        });
    }
    if (list.isEmpty())
        return json(
            QJsonDocument(QJsonObject{{QStringLiteral("msg"), QStringLiteral("暂无直播")}}));
    return json(QJsonDocument(list));
}

QHttpServerResponse LiveEndpoint::countdown(const QString &coId, const QString &liveId) const
{
    const auto b = m_db.broadcast(coId, liveId);
    if (!b)
        return json(
            QJsonDocument(QJsonObject{{QStringLiteral("msg"), QStringLiteral("直播不存在")}}));
    const qint64 left = b->startsAt - QDateTime::currentMSecsSinceEpoch();
    return json(
        QJsonDocument(QJsonObject{{QStringLiteral("timestamp"), std::max<qint64>(0, left)}}));
}

QHttpServerResponse LiveEndpoint::cover(const QString &name) const
{
    return file(m_media.coverPath(name), QByteArrayLiteral("image/png"));
}

QHttpServerResponse LiveEndpoint::playlist() const
{
    const QByteArray list = m_media.livePlaylist(QDateTime::currentMSecsSinceEpoch());
    if (list.isEmpty())
        return QHttpServerResponse(Status::ServiceUnavailable);
    QHttpServerResponse response(QByteArrayLiteral("application/vnd.apple.mpegurl"), list);
    response.setHeader(QByteArrayLiteral("Cache-Control"), QByteArrayLiteral("no-cache"));
    return response;
}

QHttpServerResponse LiveEndpoint::segment(const QString &name) const
{
    return file(m_media.segmentPath(name), QByteArrayLiteral("video/mp2t"));
}
