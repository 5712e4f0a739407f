#include "tests/support/PortalStandIn.h"

#include <QDBusArgument>
#include <QDBusMetaType>
#include <QTimer>

namespace {

const QString desktopPath = QStringLiteral("/org/freedesktop/portal/desktop");

/// One stream of the Start answer: its node and its properties.
struct Stream
{
    quint32 node = 0;
    QVariantMap properties;
};

struct Size
{
    int width = 0, height = 0;
};

QDBusArgument &operator<<(QDBusArgument &a, const Stream &s)
{
    a.beginStructure();
    a << s.node << s.properties;
    a.endStructure();
    return a;
}

const QDBusArgument &operator>>(const QDBusArgument &a, Stream &s)
{
    a.beginStructure();
    a >> s.node >> s.properties;
    a.endStructure();
    return a;
}

QDBusArgument &operator<<(QDBusArgument &a, const Size &s)
{
    a.beginStructure();
    a << s.width << s.height;
    a.endStructure();
    return a;
}

const QDBusArgument &operator>>(const QDBusArgument &a, Size &s)
{
    a.beginStructure();
    a >> s.width >> s.height;
    a.endStructure();
    return a;
}

} // namespace

Q_DECLARE_METATYPE(Stream)
Q_DECLARE_METATYPE(Size)

PrivateBus::PrivateBus()
{
    m_daemon.start(QStringLiteral("dbus-daemon"),
                   {QStringLiteral("--session"), QStringLiteral("--nofork"),
                    QStringLiteral("--print-address")});
    if (m_daemon.waitForStarted() && m_daemon.waitForReadyRead(10000))
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
}

PrivateBus::~PrivateBus()
{
    m_daemon.terminate();
    m_daemon.waitForFinished();
}

QDBusConnection PrivateBus::connect(const QString &name) const
{
    return QDBusConnection::connectToBus(m_address, name);
}

bool PortalStandIn::serve(const QDBusConnection &bus)
{
    qDBusRegisterMetaType<Stream>();
    qDBusRegisterMetaType<QList<Stream>>();
    qDBusRegisterMetaType<Size>();
    m_bus = bus;
    return m_bus.registerObject(desktopPath, this,
                                QDBusConnection::ExportAllSlots |
                                    QDBusConnection::ExportAllProperties) &&
           m_bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop"));
}

QString PortalStandIn::requestPath(const QDBusMessage &message, const QVariantMap &options) const
{
    return QStringLiteral("%1/request/%2/%3")
        .arg(desktopPath, message.service().mid(1).replace(u'.', u'_'),
             options.value(QStringLiteral("handle_token")).toString());
}

/// The answer follows the method's reply, as the desktop's chooser does.
void PortalStandIn::answer(const QString &request, uint response, const QVariantMap &results)
{
    QTimer::singleShot(0, this, [this, request, response, results] {
        QDBusMessage signal = QDBusMessage::createSignal(
            request, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
        signal << response << results;
        m_bus.send(signal);
    });
}

QDBusObjectPath PortalStandIn::CreateSession(const QVariantMap &options,
                                             const QDBusMessage &message)
{
    const QString request = requestPath(message, options);
    session = QStringLiteral("%1/session/%2/%3")
                  .arg(desktopPath, message.service().mid(1).replace(u'.', u'_'),
                       options.value(QStringLiteral("session_handle_token")).toString());
    answer(request, 0, {{QStringLiteral("session_handle"), session}});
    return QDBusObjectPath(request);
}

QDBusObjectPath PortalStandIn::SelectSources(const QDBusObjectPath &, const QVariantMap &options,
                                             const QDBusMessage &message)
{
    selected = options;
    ++selections;
    const QString request = requestPath(message, options);
    answer(request, chooserResponse, {});
    return QDBusObjectPath(request);
}

QDBusObjectPath PortalStandIn::Start(const QDBusObjectPath &, const QString &,
                                     const QVariantMap &options, const QDBusMessage &message)
{
    const QString request = requestPath(message, options);
    const QVariantMap properties{
        {QStringLiteral("size"), QVariant::fromValue(Size{size.width(), size.height()})},
        {QStringLiteral("source_type"), 1u}};
    answer(request, 0,
           {{QStringLiteral("streams"), QVariant::fromValue(QList<Stream>{{node, properties}})},
            {QStringLiteral("restore_token"), restoreToken}});
    return QDBusObjectPath(request);
}

QDBusUnixFileDescriptor PortalStandIn::OpenPipeWireRemote(const QDBusObjectPath &,
                                                          const QVariantMap &)
{
    ++remotesOpened;
    return openRemote ? openRemote() : remote;
}

void PortalStandIn::closeSession()
{
    m_bus.send(QDBusMessage::createSignal(session, QStringLiteral("org.freedesktop.portal.Session"),
                                          QStringLiteral("Closed"))
               << QVariantMap());
}

void PortalStandIn::setSourceTypes(uint types)
{
    sourceTypes = types;
    m_bus.send(QDBusMessage::createSignal(desktopPath,
                                          QStringLiteral("org.freedesktop.DBus.Properties"),
                                          QStringLiteral("PropertiesChanged"))
               << QStringLiteral("org.freedesktop.portal.ScreenCast")
               << QVariantMap{{QStringLiteral("AvailableSourceTypes"), types}} << QStringList());
}
