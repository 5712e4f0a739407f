#include "JanusClient.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QRandomGenerator>

namespace {

constexpr int requestTimeoutMs = 5000;
constexpr int pollTimeoutMs = 40000; // Janus answers an idle poll after 30 s
constexpr int keepAliveMs = 25000;

QString transaction()
{
    return QString::number(QRandomGenerator::global()->generate64(), 36);
}

} // namespace

JanusClient::JanusClient(const QUrl &base, QObject *parent)
    : QObject(parent)
    , m_base(base)
{
    m_keepAlive.setInterval(keepAliveMs);
    connect(&m_keepAlive, &QTimer::timeout, this, [this] {
        post(QStringLiteral("/%1").arg(m_session), {{"janus", "keepalive"}});
    });
}

JanusClient::~JanusClient()
{
    if (m_session != 0 && !m_lost) {
        // Fire and forget: Janus tears down every handle of the session.
        QNetworkRequest request(QUrl(m_base.toString() + QStringLiteral("/%1").arg(m_session)));
        request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
        m_http.post(request,
                    QJsonDocument(QJsonObject{{"janus", "destroy"}, {"transaction", transaction()}})
                        .toJson(QJsonDocument::Compact));
    }
}

void JanusClient::post(const QString &path, QJsonObject body,
                       std::function<void(const QJsonObject &)> done)
{
    body.insert("transaction", transaction());
    QNetworkRequest request(QUrl(m_base.toString() + path));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setTransferTimeout(requestTimeoutMs);
    QNetworkReply *reply = m_http.post(request, QJsonDocument(body).toJson(QJsonDocument::Compact));
    connect(reply, &QNetworkReply::finished, this, [this, reply, done] {
        reply->deleteLater();
        const QJsonObject answer = QJsonDocument::fromJson(reply->readAll()).object();
        if (answer.value("janus").toString() == u"error")
            qWarning("media relay: %s",
                     qPrintable(answer.value("error").toObject().value("reason").toString()));
        if (reply->error() != QNetworkReply::NoError && m_session != 0 && !m_lost) {
            m_lost = true;
            Q_EMIT lost();
        }
        if (done)
            done(answer);
    });
}

void JanusClient::open(std::function<void(bool)> done)
{
    post(QString(), {{"janus", "create"}}, [this, done](const QJsonObject &answer) {
        m_session = answer.value("data").toObject().value("id").toInteger();
        if (m_session != 0) {
            m_keepAlive.start();
            poll();
        }
        done(m_session != 0);
    });
}

void JanusClient::attach(std::function<void(qint64)> done)
{
    post(QStringLiteral("/%1").arg(m_session),
         {{"janus", "attach"}, {"plugin", "janus.plugin.videoroom"}},
         [done](const QJsonObject &answer) {
             done(answer.value("data").toObject().value("id").toInteger());
         });
}

void JanusClient::message(qint64 handle, const QJsonObject &body, const QJsonObject &jsep)
{
    QJsonObject m{{"janus", "message"}, {"body", body}};
    if (!jsep.isEmpty())
        m.insert("jsep", jsep);
    // Requests answered at once (not through the poll) come back here.
    post(QStringLiteral("/%1/%2").arg(m_session).arg(handle), m,
         [this, handle](const QJsonObject &answer) {
             if (answer.value("janus").toString() == u"success")
                 Q_EMIT event(handle,
                              answer.value("plugindata").toObject().value("data").toObject(), {});
         });
}

void JanusClient::trickle(qint64 handle, const QJsonObject &candidate)
{
    post(QStringLiteral("/%1/%2").arg(m_session).arg(handle),
         {{"janus", "trickle"},
          {"candidate", candidate.isEmpty() ? QJsonObject{{"completed", true}} : candidate}});
}

void JanusClient::detach(qint64 handle)
{
    if (m_session != 0 && !m_lost)
        post(QStringLiteral("/%1/%2").arg(m_session).arg(handle), {{"janus", "detach"}});
}

void JanusClient::poll()
{
    if (m_lost)
        return;
    QUrl url(m_base.toString() + QStringLiteral("/%1").arg(m_session));
    url.setQuery(QStringLiteral("maxev=10&rid=") + transaction());
    QNetworkRequest request(url);
    request.setTransferTimeout(pollTimeoutMs);
    QNetworkReply *reply = m_http.get(request);
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        reply->deleteLater();
        const QJsonDocument doc = QJsonDocument::fromJson(reply->readAll());
        if (reply->error() != QNetworkReply::NoError ||
            doc.object().value("janus").toString() == u"error") {
            m_lost = true;
            m_keepAlive.stop();
            Q_EMIT lost();
            return;
        }
        const QJsonArray events = doc.isArray() ? doc.array() : QJsonArray{doc.object()};
        for (const QJsonValue &e : events)
            dispatch(e.toObject());
        poll();
    });
}

void JanusClient::dispatch(const QJsonObject &e)
{
    const QString kind = e.value("janus").toString();
    if (kind == u"slowlink")
        Q_EMIT slowLink(e.value("sender").toInteger(), e.value("uplink").toBool(),
                        e.value("lost").toInt());
    if (kind != u"event")
        return; // keepalive, ack, webrtcup and media need nothing
    Q_EMIT event(e.value("sender").toInteger(),
                 e.value("plugindata").toObject().value("data").toObject(),
                 e.value("jsep").toObject());
}
