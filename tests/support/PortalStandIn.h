#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QProcess>
#include <QSize>
#include <QVariantMap>

#include <functional>

/// A bus of the test's own: a `dbus-daemon` it starts, so that the names the test takes never
/// meet another test's.
class PrivateBus final
{
public:
    PrivateBus();
    ~PrivateBus();
    /// The daemon's address, empty when it did not start.
    QString address() const { return m_address; }
    /// A new connection to the bus, under `name` in this process.
    QDBusConnection connect(const QString &name) const;

private:
    QProcess m_daemon;
    QString m_address;
};

/// The desktop's screen-cast portal as the test plays it: `org.freedesktop.portal.ScreenCast`
/// at `org.freedesktop.portal.Desktop`, answering each request through its `Response` signal
/// and handing over the node and the PipeWire remote it is given.
class PortalStandIn final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.ScreenCast")
    Q_PROPERTY(uint AvailableSourceTypes MEMBER sourceTypes)
    Q_PROPERTY(uint AvailableCursorModes MEMBER cursorModes)
    Q_PROPERTY(uint version MEMBER version)

public:
    /// Takes the portal's name on `bus`; false when it is taken already.
    bool serve(const QDBusConnection &bus);

    uint sourceTypes = 3;
    uint cursorModes = 7;
    uint version = 4;
    uint chooserResponse = 0; ///< 0 the user chose, 1 cancelled, 2 declined
    quint32 node = 0;
    QSize size;
    QDBusUnixFileDescriptor remote;
    /// Opens a new remote for each cast, when set; else `remote` is handed over.
    std::function<QDBusUnixFileDescriptor()> openRemote;
    QString restoreToken = QStringLiteral("restore-me");

    /// The options of the latest SelectSources, and the session it named.
    QVariantMap selected;
    int selections = 0;
    QString session;
    int remotesOpened = 0;

    /// Ends the session as the desktop does when its own stop button is pressed.
    void closeSession();
    /// Offers other sources, and says so as a portal does: PropertiesChanged.
    void setSourceTypes(uint types);

public slots:
    QDBusObjectPath CreateSession(const QVariantMap &options, const QDBusMessage &message);
    QDBusObjectPath SelectSources(const QDBusObjectPath &session, const QVariantMap &options,
                                  const QDBusMessage &message);
    QDBusObjectPath Start(const QDBusObjectPath &session, const QString &parentWindow,
                          const QVariantMap &options, const QDBusMessage &message);
    QDBusUnixFileDescriptor OpenPipeWireRemote(const QDBusObjectPath &session,
                                               const QVariantMap &options);

private:
    QString requestPath(const QDBusMessage &message, const QVariantMap &options) const;
    void answer(const QString &request, uint response, const QVariantMap &results);

    QDBusConnection m_bus{QString()};
};
