#include "net/QtHttpTransport.h"

#include "net/QtHttpExchange.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QPointer>

namespace {

QNetworkRequest::RedirectPolicy policyFor(HttpTransport::Redirects redirects)
{
    switch (redirects) {
    case HttpTransport::Redirects::SameOrigin:
        return QNetworkRequest::SameOriginRedirectPolicy;
    case HttpTransport::Redirects::None:
        return QNetworkRequest::ManualRedirectPolicy;
    case HttpTransport::Redirects::Safe:
        break;
    }
    return QNetworkRequest::NoLessSafeRedirectPolicy;
}

} // namespace

std::unique_ptr<HttpTransport::Exchange> QtHttpTransport::send(const Request &request,
                                                               Listener listener) const
{
    QNetworkRequest sent(request.url);
    for (const auto &[name, value] : request.headers)
        sent.setRawHeader(name, value);
    sent.setAttribute(QNetworkRequest::RedirectPolicyAttribute, policyFor(request.redirects));
    QNetworkReply *reply = nullptr;
    if (request.post) {
        sent.setHeader(QNetworkRequest::ContentLengthHeader, request.body.size());
        reply = manager()->post(sent, request.body);
    } else {
        reply = manager()->get(sent);
    }
    return std::make_unique<QtHttpExchange>(reply, std::move(listener));
}

QNetworkAccessManager *QtHttpTransport::manager() const
{
    static QPointer<QNetworkAccessManager> shared;
    if (!shared)
        shared = new QNetworkAccessManager(QCoreApplication::instance());
    return shared;
}

extern "C" Q_DECL_EXPORT const HttpTransport *orvaleHttpTransport()
{
    static const QtHttpTransport transport;
    return &transport;
}
