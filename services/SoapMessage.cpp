#include "services/SoapMessage.h"

#include <QXmlStreamReader>

namespace {

constexpr auto soap12 = "http://www.w3.org/2003/05/soap-envelope";
constexpr auto soap11 = "http://schemas.xmlsoap.org/soap/envelope/";
constexpr auto portalNs = "http://portal.orvale.net/user/v1_1";
constexpr auto loginNs = "http://webservice.orvale.net/";

} // namespace

SoapMessage::Request SoapMessage::parse(const QByteArray &body)
{
    Request request;
    QXmlStreamReader reader(body);
    QStringList path; // local names of the open elements
    QString text;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::DTD:
            reader.raiseError(QStringLiteral("document type declarations are not accepted"));
            break;
        case QXmlStreamReader::StartElement:
            path.append(reader.name().toString());
            text.clear();
            if (path.size() == 3 && path[0] == u"Envelope" && path[1] == u"Body" &&
                request.operation.isEmpty())
                request.operation = path[2];
            break;
        case QXmlStreamReader::Characters:
            text += reader.text();
            break;
        case QXmlStreamReader::EndElement:
            if (path.size() > 3 && path[2] == request.operation &&
                !request.fields.contains(path.last()))
                request.fields.insert(path.last(), text.trimmed());
            text.clear();
            path.removeLast();
            break;
        default:
            break;
        }
    }
    if (reader.hasError()) {
        request.error = reader.errorString();
        return request;
    }
    if (request.operation.isEmpty()) {
        request.error = QStringLiteral("no operation in the SOAP body");
        return request;
    }
    request.ok = true;
    return request;
}

QString SoapMessage::escaped(const QString &text)
{
    return text.toHtmlEscaped();
}

QString SoapMessage::element(const QString &name, const QString &text)
{
    return QStringLiteral("<ns1:%1>%2</ns1:%1>").arg(name, escaped(text));
}

QByteArray SoapMessage::portalReply(const QString &name, const QString &content)
{
    return QStringLiteral(R"(<?xml version="1.0" encoding="UTF-8"?>)"
                          R"(<env:Envelope xmlns:env="%1" xmlns:ns1="%2"><env:Body>)"
                          R"(<ns1:%3>%4</ns1:%3></env:Body></env:Envelope>)")
        .arg(QLatin1String(soap12), QLatin1String(portalNs), name, content)
        .toUtf8();
}

QByteArray SoapMessage::portalFault(const QString &reason, bool sender)
{
    return QStringLiteral(R"(<?xml version="1.0" encoding="UTF-8"?>)"
                          R"(<env:Envelope xmlns:env="%1"><env:Body><env:Fault>)"
                          R"(<env:Code><env:Value>env:%2</env:Value></env:Code>)"
                          R"(<env:Reason><env:Text xml:lang="en">%3</env:Text></env:Reason>)"
                          R"(</env:Fault></env:Body></env:Envelope>)")
        .arg(QLatin1String(soap12), sender ? QStringLiteral("Sender") : QStringLiteral("Receiver"),
             escaped(reason))
        .toUtf8();
}

QByteArray SoapMessage::soap11Reply(const QString &name, const QString &content)
{
    return QStringLiteral(R"(<?xml version="1.0" encoding="UTF-8"?>)"
                          R"(<soapenv:Envelope xmlns:soapenv="%1"><soapenv:Body>)"
                          R"(<ns:%3 xmlns:ns="%2">%4</ns:%3></soapenv:Body></soapenv:Envelope>)")
        .arg(QLatin1String(soap11), QLatin1String(loginNs), name, content)
        .toUtf8();
}
