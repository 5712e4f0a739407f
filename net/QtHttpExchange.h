#pragma once

#include "net/HttpTransport.h"

#include <QObject>
#include <QPointer>

class QNetworkReply;

/// One QNetworkReply of QtHttpTransport, told to its listener.
class QtHttpExchange final : public HttpTransport::Exchange
{
public:
    QtHttpExchange(QNetworkReply *reply, HttpTransport::Listener listener);
    ~QtHttpExchange() override;
    QtHttpExchange(const QtHttpExchange &) = delete;
    QtHttpExchange &operator=(const QtHttpExchange &) = delete;

    void abort() override;

private:
    QPointer<QNetworkReply> m_reply;
    // The listener's connections end with it: a deleted exchange tells nobody.
    std::unique_ptr<QObject> m_context;
};
