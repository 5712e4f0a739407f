#include "net/QtHttpExchange.h"

#include <QNetworkReply>

namespace {

HttpTransport::Reply replyOf(QNetworkReply *reply)
{
    HttpTransport::Reply ended;
    ended.error = reply->error();
    ended.errorString = reply->errorString();
    ended.httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    ended.contentType = reply->header(QNetworkRequest::ContentTypeHeader).toString();
    ended.body = reply->isOpen() ? reply->readAll() : QByteArray();
    return ended;
}

} // namespace

QtHttpExchange::QtHttpExchange(QNetworkReply *reply, HttpTransport::Listener listener)
    : m_reply(reply)
    , m_context(std::make_unique<QObject>())
{
    QObject::connect(reply, &QNetworkReply::finished, m_context.get(),
                     [reply, finished = std::move(listener.finished)] {
                         reply->deleteLater();
                         if (finished)
                             finished(replyOf(reply));
                     });
    if (!listener.progress)
        return;
    // Nothing is read before the end, so what is available is all that arrived. The progress
    // signal would not do: it is throttled and can miss the last chunks of a stalled reply.
    const auto check = [reply, progress = std::move(listener.progress)] {
        progress(reply->bytesAvailable(),
                 reply->header(QNetworkRequest::ContentLengthHeader).toLongLong());
    };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, m_context.get(), check);
    QObject::connect(reply, &QNetworkReply::readyRead, m_context.get(), check);
}

QtHttpExchange::~QtHttpExchange()
{
    m_context.reset();
    if (!m_reply)
        return;
    if (m_reply->isRunning())
        m_reply->abort();
    m_reply->deleteLater();
}

void QtHttpExchange::abort()
{
    if (m_reply)
        m_reply->abort();
}
