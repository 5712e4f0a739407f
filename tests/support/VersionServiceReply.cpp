#include "tests/support/VersionServiceReply.h"

QByteArray VersionServiceReply::release(const QString &url, const QString &stamp)
{
    return QStringLiteral(
               "<soapenv:Envelope xmlns:soapenv=\"http://schemas.xmlsoap.org/soap/envelope/\">"
               "<soapenv:Body><ns:getVersionResponse xmlns:ns=\"http://s\"><ns:return>"
               "<ns:url>%1</ns:url><ns:systemTime>%2</ns:systemTime></ns:return>"
               "</ns:getVersionResponse></soapenv:Body></soapenv:Envelope>")
        .arg(url.toHtmlEscaped(), stamp)
        .toUtf8();
}
