#include "services/WebPages.h"

#include "services/ServiceDatabase.h"
#include "services/ServicesConfig.h"
#include "services/SoapMessage.h"

#include <QHttpServerRequest>
#include <QUrl>

namespace {

QHttpServerResponse html(const QString &page)
{
    return QHttpServerResponse(QByteArrayLiteral("text/html; charset=utf-8"), page.toUtf8());
}

QString pageFrame(const QString &title, const QString &head, const QString &body)
{
    return QStringLiteral("<!DOCTYPE html><html lang=\"zh\"><head><meta charset=\"utf-8\">"
                          "<title>%1</title>%2<style>body{font-family:sans-serif;margin:3em;"
                          "color:#333}a{color:#0a7cff}</style></head><body>%3</body></html>")
        .arg(title.toHtmlEscaped(), head, body);
}

} // namespace

WebPages::WebPages(ServiceDatabase &db, const ServicesConfig &config)
    : m_db(db)
    , m_config(config)
{}

QHttpServerResponse WebPages::version(const QHttpServerRequest &) const
{
    QString stamp = m_db.meta(QStringLiteral("releaseStamp"));
    if (stamp.isEmpty())
        stamp = QStringLiteral("0");
    const QString content =
        QStringLiteral(
            "<ns:return><ns:url>%1</ns:url><ns:systemTime>%2</ns:systemTime></ns:return>")
            .arg(SoapMessage::escaped(m_config.loginBase() + QStringLiteral("/download/orvale")),
                 SoapMessage::escaped(stamp));
    return QHttpServerResponse(
        QByteArrayLiteral("text/xml; charset=utf-8"),
        SoapMessage::soap11Reply(QStringLiteral("getVersionResponse"), content));
}

QHttpServerResponse WebPages::invitation(const QHttpServerRequest &request) const
{
    // The query goes on unchanged, but only characters a link query can hold reach the page.
    const QByteArray query = request.url().query(QUrl::FullyEncoded).toLatin1();
    QByteArray safe;
    for (const char c : query) {
        if (QByteArrayView("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"
                           "-._~%=&+/")
                .contains(c))
            safe += c;
    }
    const QString link = QStringLiteral("orvale://join?") + QString::fromLatin1(safe);
    const QString escaped = link.toHtmlEscaped();
    const QString head =
        QStringLiteral("<meta http-equiv=\"refresh\" content=\"0;url=%1\">").arg(escaped);
    const QString body =
        QStringLiteral("<h1>加入视频会议</h1><p>正在打开 Orvale 客户端……</p>"
                       "<p>如果没有自动打开，请<a href=\"%1\">点击这里加入会议</a>。</p>")
            .arg(escaped);
    return html(pageFrame(QStringLiteral("加入视频会议"), head, body));
}

QHttpServerResponse WebPages::plainPage(const QString &title, const QString &text) const
{
    return html(pageFrame(
        title, {},
        QStringLiteral("<h1>%1</h1><p>%2</p>").arg(title.toHtmlEscaped(), text.toHtmlEscaped())));
}
