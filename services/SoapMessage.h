#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

/// Reading SOAP requests by their elements' local names, and writing replies and faults.
class SoapMessage final
{
public:
    struct Request
    {
        bool ok = false;
        QString error;
        QString operation;             ///< local name of the Body's first element
        QMap<QString, QString> fields; ///< text of every leaf below it, by local name (first wins)
    };

    static Request parse(const QByteArray &body);
    static QString escaped(const QString &text);

    /// A SOAP 1.2 reply whose Body holds `<ns1:{name}>{content}</ns1:{name}>`.
    static QByteArray portalReply(const QString &name, const QString &content);
    /// A SOAP 1.2 fault with the given reason text.
    static QByteArray portalFault(const QString &reason, bool sender = true);
    /// A SOAP 1.1 reply whose Body holds `<ns:{name}>{content}</ns:{name}>`.
    static QByteArray soap11Reply(const QString &name, const QString &content);
    /// `<ns1:{name}>{escaped text}</ns1:{name}>`
    static QString element(const QString &name, const QString &text);
};
