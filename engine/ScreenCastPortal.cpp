#include "engine/ScreenCastPortal.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace {

const QString service = QStringLiteral("org.freedesktop.portal.Desktop");
const QString desktopPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString screenCast = QStringLiteral("org.freedesktop.portal.ScreenCast");
const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString sessionInterface = QStringLiteral("org.freedesktop.portal.Session");
const QString properties = QStringLiteral("org.freedesktop.DBus.Properties");

constexpr uint cursorEmbedded = 2;
constexpr uint persistUntilRevoked = 2;

/// A token unique in this process: the portal builds the request's and the session's paths
/// from it and the caller's bus name.
QString nextToken()
{
    static int counter = 0;
    return QStringLiteral("orvale%1").arg(++counter);
}

/// ":1.42" becomes "1_42", as the portal writes the caller into its object paths.
QString senderPart(const QDBusConnection &bus)
{
    return bus.baseService().mid(1).replace(u'.', u'_');
}

QVariant propertyReply(const QDBusMessage &reply)
{
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    return reply.arguments().constFirst().value<QDBusVariant>().variant();
}

QDBusMessage propertyCall(const QString &name)
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, desktopPath, properties, QStringLiteral("Get"));
    call << screenCast << name;
    return call;
}

/// A string in the documented interface; an object path in some older portals.
QString pathOf(const QVariant &handle)
{
    return handle.metaType() == QMetaType::fromType<QDBusObjectPath>()
               ? handle.value<QDBusObjectPath>().path()
               : handle.toString();
}

/// The first stream of the Start answer, a(ua{sv}): its node and, when told, its size.
void firstStream(const QVariant &streams, quint32 &node, QSize &size)
{
    const QDBusArgument list = streams.value<QDBusArgument>();
    if (list.currentType() != QDBusArgument::ArrayType)
        return;
    list.beginArray();
    if (!list.atEnd()) {
        QVariantMap info;
        list.beginStructure();
        list >> node >> info;
        list.endStructure();
        const QDBusArgument pair = info.value(QStringLiteral("size")).value<QDBusArgument>();
        if (pair.currentType() == QDBusArgument::StructureType) {
            int width = 0, height = 0;
            pair.beginStructure();
            pair >> width >> height;
            pair.endStructure();
            size = QSize(width, height);
        }
    }
    while (!list.atEnd()) { // only the first is cast: the portal was asked for one
        list.beginStructure();
        quint32 other = 0;
        QVariantMap ignored;
        list >> other >> ignored;
        list.endStructure();
    }
    list.endArray();
}

} // namespace

ScreenCastPortal::ScreenCastPortal(const QDBusConnection &bus, QObject *parent)
    : QObject(parent)
    , m_bus(bus)
{}

ScreenCastPortal::~ScreenCastPortal()
{
    close();
}

void ScreenCastPortal::start(SourceType type, const QString &restoreToken)
{
    close();
    m_type = type;
    m_restoreToken = restoreToken;
    m_step = Step::Create;
    // The cursor is drawn into the picture only where the portal offers that.
    auto *watcher = new QDBusPendingCallWatcher(
        m_bus.asyncCall(propertyCall(QStringLiteral("AvailableCursorModes"))), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        m_cursorModes = propertyReply(watcher->reply()).toUInt();
        if (m_step == Step::Create)
            createSession();
    });
}

void ScreenCastPortal::createSession()
{
    askFor(Step::Create, QStringLiteral("CreateSession"), {},
           {{QStringLiteral("session_handle_token"), nextToken()}});
}

void ScreenCastPortal::selectSources()
{
    QVariantMap options{{QStringLiteral("types"), uint(m_type)},
                        {QStringLiteral("multiple"), false},
                        {QStringLiteral("persist_mode"), persistUntilRevoked}};
    if (m_cursorModes & cursorEmbedded)
        options.insert(QStringLiteral("cursor_mode"), cursorEmbedded);
    if (!m_restoreToken.isEmpty())
        options.insert(QStringLiteral("restore_token"), m_restoreToken);
    askFor(Step::Select, QStringLiteral("SelectSources"),
           {QVariant::fromValue(QDBusObjectPath(m_session))}, options);
}

void ScreenCastPortal::startCast()
{
    askFor(Step::Start, QStringLiteral("Start"),
           {QVariant::fromValue(QDBusObjectPath(m_session)), QString()}, {});
}

/// Listens at the request's predicted path, then asks: an answer that comes before the call's
/// reply is not missed.
void ScreenCastPortal::askFor(Step step, const QString &method, const QVariantList &arguments,
                              QVariantMap options)
{
    const QString token = nextToken();
    options.insert(QStringLiteral("handle_token"), token);
    listenToRequest(false);
    m_request = QStringLiteral("%1/request/%2/%3").arg(desktopPath, senderPart(m_bus), token);
    listenToRequest(true);
    m_step = step;
    QDBusMessage call = QDBusMessage::createMethodCall(service, desktopPath, screenCast, method);
    call.setArguments(QVariantList(arguments) << options);
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, step] {
        watcher->deleteLater();
        const QDBusPendingReply<QDBusObjectPath> reply = *watcher;
        if (m_step != step)
            return;
        if (reply.isError()) {
            qWarning("screen cast: the desktop's portal cannot be asked: %s",
                     qPrintable(reply.error().message()));
            finish(true);
        } else if (reply.value().path() != m_request) { // an older portal's own path
            listenToRequest(false);
            m_request = reply.value().path();
            listenToRequest(true);
        }
    });
}

void ScreenCastPortal::onResponse(uint response, const QVariantMap &results)
{
    listenToRequest(false);
    if (response != 0) { // 1: the user cancelled, 2: the desktop declined
        finish(true);
        return;
    }
    switch (m_step) {
    case Step::Create:
        m_session = pathOf(results.value(QStringLiteral("session_handle")));
        listenToSession(true);
        selectSources();
        break;
    case Step::Select:
        startCast();
        break;
    case Step::Start:
        openRemote(results);
        break;
    default:
        break;
    }
}

void ScreenCastPortal::openRemote(const QVariantMap &startResults)
{
    m_node = 0;
    m_size = QSize();
    firstStream(startResults.value(QStringLiteral("streams")), m_node, m_size);
    const QString token = startResults.value(QStringLiteral("restore_token")).toString();
    if (!token.isEmpty() && token != m_restoreToken) {
        m_restoreToken = token;
        emit restoreTokenChanged(token);
    }
    QDBusMessage call = QDBusMessage::createMethodCall(service, desktopPath, screenCast,
                                                       QStringLiteral("OpenPipeWireRemote"));
    call << QVariant::fromValue(QDBusObjectPath(m_session)) << QVariantMap();
    m_step = Step::Running;
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *watcher;
        if (m_step != Step::Running)
            return;
        if (reply.isError() || !reply.value().isValid() || m_node == 0) {
            qWarning("screen cast: the portal handed over no stream");
            finish(true);
            return;
        }
        emit started(reply.value(), m_node, m_size);
    });
}

void ScreenCastPortal::onSessionClosed()
{
    const bool running = m_step == Step::Running;
    m_session.clear(); // closed already: nothing to close
    finish(!running);
}

/// Ends the session, telling whoever waits how it ended.
void ScreenCastPortal::finish(bool cancelled)
{
    close();
    if (cancelled)
        emit this->cancelled();
    else
        emit closed();
}

void ScreenCastPortal::close()
{
    listenToRequest(false);
    listenToSession(false);
    if (!m_session.isEmpty())
        m_bus.asyncCall(QDBusMessage::createMethodCall(service, m_session, sessionInterface,
                                                       QStringLiteral("Close")));
    m_session.clear();
    m_request.clear();
    m_step = Step::None;
}

void ScreenCastPortal::listenToRequest(bool on)
{
    if (m_request.isEmpty())
        return;
    if (on)
        m_bus.connect(service, m_request, requestInterface, QStringLiteral("Response"), this,
                      SLOT(onResponse(uint, QVariantMap)));
    else
        m_bus.disconnect(service, m_request, requestInterface, QStringLiteral("Response"), this,
                         SLOT(onResponse(uint, QVariantMap)));
}

void ScreenCastPortal::listenToSession(bool on)
{
    if (m_session.isEmpty())
        return;
    if (on)
        m_bus.connect(service, m_session, sessionInterface, QStringLiteral("Closed"), this,
                      SLOT(onSessionClosed()));
    else
        m_bus.disconnect(service, m_session, sessionInterface, QStringLiteral("Closed"), this,
                         SLOT(onSessionClosed()));
}
