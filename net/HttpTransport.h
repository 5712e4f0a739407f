#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <utility>

class QNetworkAccessManager;

/// HTTP through Qt Network, which the module liborvalenetwork.so brings: the login window sends
/// nothing before the user signs in, so the client starts without Qt Network and its libraries
/// and loads the module at the first request. Everything here is for the main thread.
class HttpTransport
{
public:
    enum class Redirects {
        Safe,       ///< followed unless they lead from https to http
        SameOrigin, ///< followed within the same origin only
        None,       ///< a redirect ends the request (credentials never go elsewhere)
    };

    struct Request
    {
        QUrl url;
        bool post = false;
        QByteArray body; ///< what a POST sends
        QList<std::pair<QByteArray, QByteArray>> headers;
        Redirects redirects = Redirects::Safe;
    };

    /// How a request ended.
    struct Reply
    {
        int error = 0; ///< a QNetworkReply::NetworkError
        QString errorString;
        int httpStatus = 0;  ///< 0 when no HTTP reply came
        QString contentType; ///< the Content-Type header as received
        QByteArray body;
    };

    struct Listener
    {
        /// The bytes arrived so far and the announced length (0 when none), as they grow.
        std::function<void(qint64 received, qint64 announced)> progress;
        /// The end, once, unless the exchange is deleted before.
        std::function<void(const Reply &reply)> finished;
    };

    /// A request in flight. Deleting it ends the request without telling its listener.
    class Exchange
    {
    public:
        virtual ~Exchange() = default;
        /// Ends the request now: its listener hears the end, as a cancellation.
        virtual void abort() = 0;
    };

    virtual ~HttpTransport() = default;
    virtual std::unique_ptr<Exchange> send(const Request &request, Listener listener) const = 0;
    /// The manager every request shares.
    virtual QNetworkAccessManager *manager() const = 0;

    /// The module's transport, loaded at the first call; null, after a warning that names the
    /// missing file, when the module cannot be loaded.
    static const HttpTransport *instance();
};

/// The module's entry point: its one transport, which lives as long as the process.
using HttpTransportEntry = const HttpTransport *(*)();
