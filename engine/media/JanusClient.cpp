#include "engine/media/JanusClient.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QRandomGenerator>

#include <memory>

namespace {

constexpr int pollTimeoutMs = 40000; // Janus answers an idle poll after 30 s
constexpr int keepAliveMs = 25000;   // well inside Janus's 60 s session timeout
constexpr int closeTimeoutMs = 1000; // a quitting engine waits no longer for Janus
constexpr int noSuchSession = 458;
constexpr int requestTries = 4;        // one request lost on the way is no reason to give up
constexpr int firstRetryPauseMs = 250; // doubled with each try

QString transaction()
{
    return QString::number(QRandomGenerator::global()->generate64(), 36);
}

} // namespace

JanusClient::JanusClient(const QUrl &base, QObject *parent)
    : QObject(parent)
    , m_base(base)
{
    // Nothing goes to a relay whose certificate fails: its streams stay down, and say why.
    connect(&m_http, &QNetworkAccessManager::sslErrors, this,
            [](QNetworkReply *, const QList<QSslError> &errors) {
                for (const QSslError &e : errors)
                    qWarning("media relay: certificate refused: %s", qPrintable(e.errorString()));
            });
    m_keepAlive.setInterval(keepAliveMs);
    connect(&m_keepAlive, &QTimer::timeout, this, [this] {
        post(QStringLiteral("/%1").arg(m_session), {{"janus", "keepalive"}});
    });
}

/// Janus keeps a session that was not closed until its own timeout: close() comes first.
JanusClient::~JanusClient()
{
    m_closing = true; // the aborted poll reports nothing
    if (m_poll && m_poll->isRunning())
        m_poll->abort();
}

QNetworkRequest JanusClient::request(const QUrl &url) const
{
    QNetworkRequest request(url);
    request.setSslConfiguration(m_ssl);
    return request;
}

void JanusClient::post(const QString &path, QJsonObject body,
                       std::function<void(const QJsonObject &)> done)
{
    body.insert("transaction", transaction());
    if (!m_apiToken.isEmpty())
        body.insert("token", m_apiToken);
    send(path, body, std::move(done), 0);
}

void JanusClient::send(const QString &path, const QJsonObject &body,
                       std::function<void(const QJsonObject &)> done, int attempt)
{
    QNetworkRequest request = this->request(QUrl(m_base.toString() + path));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setTransferTimeout(m_requestTimeoutMs);
    QNetworkReply *reply = m_http.post(request, QJsonDocument(body).toJson(QJsonDocument::Compact));
    connect(reply, &QNetworkReply::finished, this, [this, reply, path, body, done, attempt] {
        reply->deleteLater();
        if (reply->error() != QNetworkReply::NoError)
            return failed(path, body, done, attempt, reply->errorString());
        const QJsonObject answer = QJsonDocument::fromJson(reply->readAll()).object();
        const QJsonObject error = answer.value("error").toObject();
        if (answer.value("janus").toString() == u"error" && !m_closing)
            qWarning("media relay: %s", qPrintable(error.value("reason").toString()));
        if (error.value("code").toInt() == noSuchSession)
            markLost();
        if (done)
            done(answer);
    });
}

/// A request that found no relay, or no answer in time, is sent again after a short pause. Only
/// the session's own signs of life decide that it is gone: the keepalive, and the poll.
void JanusClient::failed(const QString &path, const QJsonObject &body,
                         std::function<void(const QJsonObject &)> done, int attempt,
                         const QString &why)
{
    if (m_closing)
        return done ? done({}) : void();
    if (attempt + 1 < requestTries) {
        qInfo("media relay: request failed (%s); sending it again", qPrintable(why));
        QTimer::singleShot(firstRetryPauseMs << attempt, this, [=, this] {
            if (!m_closing)
                send(path, body, done, attempt + 1);
        });
        return;
    }
    qWarning("media relay: request failed %d times (%s)", requestTries, qPrintable(why));
    if (body.value("janus").toString() == u"keepalive")
        markLost();
    if (done)
        done({});
}

void JanusClient::markLost()
{
    m_keepAlive.stop();
    if (m_session == 0 || m_lost || m_closing)
        return;
    m_lost = true;
    Q_EMIT lost();
}

void JanusClient::open(std::function<void(bool)> done)
{
    post(QString(), {{"janus", "create"}}, [this, done](const QJsonObject &answer) {
        const qint64 session = answer.value("data").toObject().value("id").toInteger();
        if (m_closing) { // closed meanwhile: Janus need not hold what nobody uses
            if (session != 0)
                post(QStringLiteral("/%1").arg(session), {{"janus", "destroy"}});
            return;
        }
        m_session = session;
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
         [this, done](const QJsonObject &answer) {
             if (m_closing) // the handle goes with the session
                 return;
             const qint64 handle = answer.value("data").toObject().value("id").toInteger();
             if (handle != 0)
                 m_handles.insert(handle);
             done(handle);
         });
}

void JanusClient::message(qint64 handle, const QJsonObject &body, const QJsonObject &jsep,
                          std::function<void()> taken)
{
    QJsonObject m{{"janus", "message"}, {"body", body}};
    if (!jsep.isEmpty())
        m.insert("jsep", jsep);
    // Requests answered at once (not through the poll) come back here.
    post(QStringLiteral("/%1/%2").arg(m_session).arg(handle), m,
         [this, handle, taken](const QJsonObject &answer) {
             if (taken)
                 taken();
             if (answer.value("janus").toString() == u"success" && !m_closing)
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
    m_handles.remove(handle);
    if (m_session != 0 && !m_lost)
        post(QStringLiteral("/%1/%2").arg(m_session).arg(handle), {{"janus", "detach"}});
}

void JanusClient::close(std::function<void(bool)> done)
{
    // Tried even after a loss: a relay that is still there frees what the session held.
    const bool open = m_session != 0 && !m_closing;
    m_closing = true;
    m_keepAlive.stop();
    if (m_poll && m_poll->isRunning())
        m_poll->abort();
    if (!open)
        return done(false);
    // Whichever comes first: Janus's confirmation or the deadline.
    auto finish = std::make_shared<std::function<void(bool)>>(std::move(done));
    const auto once = [finish](bool confirmed) {
        if (const auto f = std::exchange(*finish, {}))
            f(confirmed);
    };
    QTimer::singleShot(closeTimeoutMs, this, [once] { once(false); });
    // Each handle first, then the session: a destroy that overtook a detach would fail it.
    const QSet<qint64> handles = std::exchange(m_handles, {});
    auto left = std::make_shared<qsizetype>(handles.size());
    if (handles.isEmpty())
        return destroySession(once);
    for (const qint64 handle : handles)
        post(QStringLiteral("/%1/%2").arg(m_session).arg(handle), {{"janus", "detach"}},
             [this, left, once](const QJsonObject &) {
                 if (--*left == 0)
                     destroySession(once);
             });
}

void JanusClient::destroySession(std::function<void(bool)> done)
{
    post(QStringLiteral("/%1").arg(m_session), {{"janus", "destroy"}},
         [this, done](const QJsonObject &answer) {
             const bool destroyed = answer.value("janus").toString() == u"success";
             if (destroyed)
                 m_session = 0;
             done(destroyed);
         });
}

void JanusClient::poll()
{
    if (m_lost || m_closing)
        return;
    QUrl url(m_base.toString() + QStringLiteral("/%1").arg(m_session));
    // The token fully encoded: the relay would read a '+' in a query as a space.
    QString query = QStringLiteral("maxev=10&rid=") + transaction();
    if (!m_apiToken.isEmpty())
        query +=
            QStringLiteral("&token=") + QString::fromLatin1(QUrl::toPercentEncoding(m_apiToken));
    url.setQuery(query, QUrl::StrictMode);
    QNetworkRequest request = this->request(url);
    request.setTransferTimeout(pollTimeoutMs);
    QNetworkReply *reply = m_http.get(request);
    m_poll = reply;
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        reply->deleteLater();
        if (m_closing)
            return;
        const QJsonDocument doc = QJsonDocument::fromJson(reply->readAll());
        if (doc.object().value("janus").toString() == u"error")
            return markLost(); // Janus no longer knows the session
        if (reply->error() != QNetworkReply::NoError)
            return pollFailed(reply->errorString());
        m_pollFailures = 0;
        const QJsonArray events = doc.isArray() ? doc.array() : QJsonArray{doc.object()};
        for (const QJsonValue &e : events)
            dispatch(e.toObject());
        poll();
    });
}

/// A poll lost on the way is asked again; a relay that answers none of a few is gone.
void JanusClient::pollFailed(const QString &why)
{
    if (++m_pollFailures >= requestTries) {
        qWarning("media relay: no events for %d tries (%s)", requestTries, qPrintable(why));
        return markLost();
    }
    QTimer::singleShot(firstRetryPauseMs << (m_pollFailures - 1), this, [this] { poll(); });
}

void JanusClient::dispatch(const QJsonObject &e)
{
    const QString kind = e.value("janus").toString();
    const qint64 handle = e.value("sender").toInteger();
    if (kind == u"event")
        Q_EMIT event(handle, e.value("plugindata").toObject().value("data").toObject(),
                     e.value("jsep").toObject());
    else if (kind == u"webrtcup")
        Q_EMIT connected(handle);
    else if (kind == u"hangup")
        Q_EMIT hangup(handle, e.value("reason").toString());
    else if (kind == u"slowlink")
        Q_EMIT slowLink(handle, e.value("uplink").toBool(), e.value("lost").toInt());
    else if (kind == u"media")
        Q_EMIT receiving(handle, e.value("type").toString(), e.value("receiving").toBool());
    // keepalive, ack and the rest need nothing here
}
