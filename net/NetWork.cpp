#include "net/NetWork.h"

#include "model/AppStatus.h"
#include "model/AppUser.h"
#include "model/Log.h"
#include "net/JsonCleaner.h"
#include "net/SoapNamespaces.h"
#include "net/XMLReader.h"

#include <QCoreApplication>
#include <QThreadPool>
#include <QUrl>

namespace {

QString mimeTypeOf(const HttpTransport::Reply &reply)
{
    return reply.contentType.section(u';', 0, 0).trimmed().toLower();
}

QByteArray headerValue(const QString &text)
{
    QByteArray bytes = text.toUtf8();
    bytes.replace('\r', "").replace('\n', "");
    return bytes;
}

} // namespace

NetWork::NetWork(Kind kind, const QString &url)
    : m_kind(kind)
    , m_urlString(url)
    , m_timeoutMs(kind == Kind::SoapPost ? soapTimeoutMs : getTimeoutMs)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_timedOut = true;
        if (m_dataTask)
            m_dataTask->abort();
    });
}

NetWork *NetWork::initWithUrlString(const QString &url, const Params &params)
{
    auto *request = new NetWork(Kind::XmlGet, url);
    request->m_params = params;
    return request;
}

NetWork *NetWork::initWithUrlString(const QString &url, const QString &soapMessage,
                                    const QString &soapAction)
{
    auto *request = new NetWork(Kind::SoapPost, url);
    request->m_soapAction = soapAction;
    request->m_soapMessage =
        AppStatus::shareStatus()->isSignIn() ? portalEnvelope(soapMessage) : soapMessage;
    request->m_auth = AppUser::defaultUser()->auth;
    return request;
}

NetWork *NetWork::initWithJsonReturnUrlString(const QString &url, const Params &params)
{
    auto *request = new NetWork(Kind::JsonGet, url);
    request->m_params = params;
    request->getWithJsonUrl();
    return request;
}

void NetWork::setSuccessBlock(const QObject *context, SuccessBlock block)
{
    m_successContext = context;
    m_successBlock = std::move(block);
}

void NetWork::setFailBlock(const QObject *context, FailBlock block)
{
    m_failContext = context;
    m_failBlock = std::move(block);
}

void NetWork::setTimeout(int milliseconds)
{
    m_timeoutMs = milliseconds;
    if (m_timer.isActive())
        m_timer.start(m_timeoutMs);
}

QNetworkAccessManager *NetWork::manager()
{
    const HttpTransport *transport = HttpTransport::instance();
    return transport ? transport->manager() : nullptr;
}

QThreadPool *NetWork::conversionQueue()
{
    static QPointer<QThreadPool> queue;
    if (!queue) {
        queue = new QThreadPool(QCoreApplication::instance());
        queue->setMaxThreadCount(1); // one worker keeps the replies in order
        queue->setExpiryTimeout(-1);
    }
    return queue;
}

void NetWork::startRequest()
{
    if (m_started)
        return;
    if (m_kind == Kind::SoapPost)
        postConnectionWithUrl();
    else
        getWithUrl();
}

void NetWork::cancelNetworkOperations()
{
    if (!m_dataTask || m_delivered)
        return;
    m_cancelled = true;
    m_dataTask->abort();
}

QString NetWork::responseNameForAction(const QString &action)
{
    if (action.contains(QLatin1String("Request")) && action.size() >= 7)
        return action.left(action.size() - 7) + QLatin1String("Response");
    return action + QLatin1String("Response");
}

QString NetWork::portalEnvelope(const QString &body)
{
    const QString blanks(52, u' ');
    return QLatin1String(R"(<?xml version="1.0" encoding="UTF-8"?>)") + blanks +
           QLatin1String(R"(<env:Envelope xmlns:env=")") + SoapNamespaces::soap12Envelope +
           QLatin1String(R"(" xmlns:ns1=")") + SoapNamespaces::portalUserService +
           QLatin1String(R"(">)") + blanks + QLatin1String("<env:Body>") + body +
           QLatin1String("</env:Body>") + blanks + QLatin1String("</env:Envelope>");
}

QString NetWork::queryUrl() const
{
    if (m_params.isEmpty())
        return m_urlString;
    QStringList pairs;
    for (auto it = m_params.cbegin(); it != m_params.cend(); ++it)
        pairs.append(QString::fromLatin1(QUrl::toPercentEncoding(it.key()) + '=' +
                                         QUrl::toPercentEncoding(it.value())));
    const QString joiner = m_urlString.endsWith(u'?') ? QString() : QStringLiteral("?");
    return m_urlString + joiner + pairs.join(u'&');
}

void NetWork::postConnectionWithUrl()
{
    HttpTransport::Request request;
    request.url = QUrl(m_urlString, QUrl::TolerantMode);
    request.post = true;
    request.body = m_soapMessage.toUtf8();
    request.headers = {{"Content-Type", "application/soap+xml; charset=utf-8"},
                       {"SOAPAction", headerValue(m_soapAction)}};
    if (!m_auth.isNull())
        request.headers.append({"Authorization", headerValue(m_auth)});
    // The credentials must never reach another address: a redirect ends the request.
    request.redirects = HttpTransport::Redirects::None;
    send(request);
}

void NetWork::getWithUrl()
{
    QStringList pairs;
    for (auto it = m_params.cbegin(); it != m_params.cend(); ++it)
        pairs.append(it.key() + u'=' + it.value());
    qCInfo(lcOrvale).noquote()
        << QStringLiteral("theRequest : %1?%2").arg(m_urlString, pairs.join(u'&'));
    getWithJsonUrl();
}

void NetWork::getWithJsonUrl()
{
    HttpTransport::Request request;
    request.url = QUrl(queryUrl(), QUrl::TolerantMode);
    request.redirects = HttpTransport::Redirects::SameOrigin;
    send(request);
}

void NetWork::send(const HttpTransport::Request &request)
{
    m_started = true;
    const HttpTransport *transport = HttpTransport::instance();
    if (!transport) {
        // Without the module no request can go out: it fails as an unreachable server would.
        HttpTransport::Reply none;
        none.error = QNetworkReply::UnknownNetworkError;
        none.errorString = QStringLiteral("HTTP is not available");
        QTimer::singleShot(0, this, [this, none] { finish(none); });
        return;
    }
    m_dataTask = transport->send(
        request, {[this](qint64 received, qint64 total) { limitSize(received, total); },
                  [this](const HttpTransport::Reply &reply) { finish(reply); }});
    m_timer.start(m_timeoutMs);
}

void NetWork::limitSize(qint64 received, qint64 total)
{
    if (m_tooLarge || (received <= maxReplyBytes && total <= maxReplyBytes))
        return;
    m_tooLarge = true;
    m_dataTask->abort();
}

std::optional<NetworkError> NetWork::judge(const HttpTransport::Reply &reply) const
{
    const QByteArray &body = reply.body;
    NetworkError error;
    error.code = QNetworkReply::NetworkError(reply.error);
    error.httpStatus = reply.httpStatus;
    error.mimeType = mimeTypeOf(reply);
    error.message = reply.errorString;
    if (m_timedOut) {
        error.kind = NetworkError::Kind::Timeout;
        error.message = QStringLiteral("The request timed out");
        return error;
    }
    if (m_cancelled) {
        error.kind = NetworkError::Kind::Cancelled;
        return error;
    }
    if (m_tooLarge) {
        error.kind = NetworkError::Kind::TooLarge;
        error.message = QStringLiteral("The reply is longer than %1 bytes").arg(maxReplyBytes);
        return error;
    }
    if (error.httpStatus == 0) {
        if (error.code == QNetworkReply::NoError)
            error.code = QNetworkReply::UnknownNetworkError;
        return error;
    }
    error.body = body;
    if (error.httpStatus < 200 || error.httpStatus > 299) {
        error.kind = NetworkError::Kind::Status;
        return error;
    }
    static const QStringList soapTypes{QStringLiteral("text/xml"),
                                       QStringLiteral("application/soap+xml")};
    static const QStringList xmlTypes{QStringLiteral("text/xml"), QStringLiteral("text/html")};
    static const QStringList jsonTypes{QStringLiteral("application/json")};
    const QStringList &accepted =
        m_kind == Kind::SoapPost ? soapTypes : (m_kind == Kind::XmlGet ? xmlTypes : jsonTypes);
    const bool typeNeeded = m_kind != Kind::SoapPost || !body.isEmpty();
    if (typeNeeded && !accepted.contains(error.mimeType)) {
        error.kind = NetworkError::Kind::ContentType;
        error.message = QStringLiteral("Unacceptable content type \"%1\"").arg(error.mimeType);
        return error;
    }
    if (error.code != QNetworkReply::NoError)
        return error; // a 2xx reply broken off midway
    return std::nullopt;
}

void NetWork::finish(const HttpTransport::Reply &reply)
{
    m_timer.stop();
    m_dataTask.reset();
    if (m_delivered)
        return;
    m_delivered = true;
    const QByteArray body = reply.body;
    std::optional<NetworkError> error = judge(reply);
    if (error && m_kind == Kind::SoapPost)
        qCWarning(lcOrvale).noquote() << QStringLiteral("请求数据失败 , %1").arg(m_soapAction);
    // Failures take the same queue as replies, so no handler overtakes an earlier one.
    conversionQueue()->start([this, kind = m_kind, body, error = std::move(error),
                              responseName = responseNameForAction(m_soapAction)] {
        const Outcome outcome = error ? Outcome{{}, error} : convert(kind, body, responseName);
        QMetaObject::invokeMethod(
            this, [this, outcome] { deliver(outcome); }, Qt::QueuedConnection);
    });
}

NetWork::Outcome NetWork::convert(Kind kind, const QByteArray &body, const QString &responseName)
{
    switch (kind) {
    case Kind::XmlGet:
        return {XMLReader::dictionaryForXMLData(body, XMLReader::ProcessNamespaces, nullptr,
                                                QStringLiteral("getVersionResponse")),
                std::nullopt};
    case Kind::JsonGet:
        return {JsonCleaner::decode(body), std::nullopt};
    case Kind::SoapPost:
        break;
    }
    QString parseError;
    const QVariant response = XMLReader::dictionaryForXMLData(body, XMLReader::ProcessNamespaces,
                                                              &parseError, responseName);
    if (parseError.isEmpty())
        return {response, std::nullopt};
    // A reply that cannot be read still ends the request, so no caller waits forever.
    NetworkError error;
    error.kind = NetworkError::Kind::Malformed;
    error.httpStatus = 200;
    error.body = body;
    error.message = parseError;
    return {{}, error};
}

void NetWork::deliver(const Outcome &outcome)
{
    if (outcome.error && outcome.error->kind == NetworkError::Kind::Malformed)
        qCWarning(lcOrvale).noquote() << outcome.error->message;
    if (outcome.error && m_failBlock && m_failContext)
        m_failBlock(*outcome.error);
    else if (!outcome.error && m_successBlock && m_successContext)
        m_successBlock(outcome.value);
    deleteLater();
}
