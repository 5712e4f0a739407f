#pragma once

#include "net/HttpTransport.h"
#include "net/NetworkError.h"

#include <QMap>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QVariant>

#include <functional>
#include <memory>
#include <optional>

class QNetworkAccessManager;
class QThreadPool;

/// One HTTP request: a SOAP POST, an XML GET or a JSON GET. The object owns itself from the
/// start of its request until its one handler call, which always runs on the main thread.
/// Replies are converted off the main thread, one after the other, and handed to their
/// handlers in the order they arrived.
class NetWork final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(NetWork)

public:
    using SuccessBlock = std::function<void(const QVariant &)>;
    using FailBlock = std::function<void(const NetworkError &)>;
    using Params = QMap<QString, QString>;

    static constexpr int soapTimeoutMs = 20000;
    static constexpr int getTimeoutMs = 30000;
    /// Longer replies are broken off while downloading (a full directory reply is far smaller).
    static constexpr qint64 maxReplyBytes = 4 * 1024 * 1024;

    /// An XML GET; nothing is sent before startRequest().
    static NetWork *initWithUrlString(const QString &url, const Params &params);
    /// A SOAP POST; after sign-in the body is wrapped into the portal envelope.
    static NetWork *initWithUrlString(const QString &url, const QString &soapMessage,
                                      const QString &soapAction);
    /// A JSON GET, started at once; set the handlers right after.
    static NetWork *initWithJsonReturnUrlString(const QString &url, const Params &params);

    /// The handlers run on the main thread, like a slot connected with `context`: not at all
    /// once `context` is gone.
    void setSuccessBlock(const QObject *context, SuccessBlock block);
    void setFailBlock(const QObject *context, FailBlock block);
    void setAuth(const QString &auth) { m_auth = auth; }
    /// Replaces the time limit; a running request's limit restarts from now.
    void setTimeout(int milliseconds);

    QString urlString() const { return m_urlString; }
    Params params() const { return m_params; }
    QString soapMessage() const { return m_soapMessage; }
    QString auth() const { return m_auth; }
    QString soapAction() const { return m_soapAction; }
    int timeout() const { return m_timeoutMs; }
    /// Whether the request has been sent and its reply has not fully arrived.
    bool isLoading() const { return m_dataTask != nullptr; }

    void startRequest();
    /// Cancels the running request; its failBlock then receives a cancellation error.
    void cancelNetworkOperations();

    /// "SearchMyContactsRequest" → "SearchMyContactsResponse", "loginJson" → "loginJsonResponse".
    static QString responseNameForAction(const QString &action);
    static QString portalEnvelope(const QString &body);
    /// The manager every request of the main thread shares.
    static QNetworkAccessManager *manager();
    /// The one worker that converts replies, in order of arrival.
    static QThreadPool *conversionQueue();

private:
    enum class Kind { XmlGet, SoapPost, JsonGet };

    struct Outcome
    {
        QVariant value;
        std::optional<NetworkError> error;
    };

    explicit NetWork(Kind kind, const QString &url);

    void postConnectionWithUrl();
    void getWithUrl();
    void getWithJsonUrl();
    void send(const HttpTransport::Request &request);
    void limitSize(qint64 received, qint64 total);
    void finish(const HttpTransport::Reply &reply);
    std::optional<NetworkError> judge(const HttpTransport::Reply &reply) const;
    static Outcome convert(Kind kind, const QByteArray &body, const QString &responseName);
    void deliver(const Outcome &outcome);
    QString queryUrl() const;

    Kind m_kind;
    QString m_urlString;
    Params m_params;
    QString m_soapMessage;
    QString m_auth;
    QString m_soapAction;
    SuccessBlock m_successBlock;
    FailBlock m_failBlock;
    QPointer<const QObject> m_successContext;
    QPointer<const QObject> m_failContext;
    std::unique_ptr<HttpTransport::Exchange> m_dataTask;
    QTimer m_timer;
    int m_timeoutMs;
    bool m_started = false;
    bool m_delivered = false;
    bool m_cancelled = false;
    bool m_timedOut = false;
    bool m_tooLarge = false;
};
