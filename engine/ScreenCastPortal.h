#pragma once

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QSize>
#include <QVariantMap>

/// The desktop's screen-cast portal (`org.freedesktop.portal.ScreenCast`): where a Wayland
/// session lets a program capture the screen or a window. One share at a time: the desktop's own
/// chooser picks the source, and the portal hands over a PipeWire remote and the stream's node.
/// Every step's answer comes as the `Response` signal of a request object, whose path the
/// request's token predicts; the object listens there before asking.
class ScreenCastPortal final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ScreenCastPortal)

public:
    /// The portal's source types, as its `AvailableSourceTypes` bitmask says them.
    enum SourceType : uint { Monitor = 1, Window = 2 };

    explicit ScreenCastPortal(const QDBusConnection &bus, QObject *parent = nullptr);
    ~ScreenCastPortal() override;

    /// Asks the desktop for a source of `type`; `restoreToken` from an earlier share lets the
    /// desktop skip its chooser. Ends any session this object holds.
    void start(SourceType type, const QString &restoreToken);
    /// Ends the session: the desktop stops casting.
    void close();

signals:
    /// The stream is ready: `remote` is the PipeWire connection, `node` the stream's node.
    void started(const QDBusUnixFileDescriptor &remote, quint32 node, QSize size);
    /// The token that lets the next share of the same source skip the chooser.
    void restoreTokenChanged(const QString &token);
    /// The user dismissed the chooser, or the desktop declined: nothing is cast.
    void cancelled();
    /// The desktop ended a running cast (its own stop button, the window closed).
    void closed();

private slots:
    void onResponse(uint response, const QVariantMap &results);
    void onSessionClosed();

private:
    enum class Step { None, Create, Select, Start, Running };

    void askFor(Step step, const QString &method, const QVariantList &arguments,
                QVariantMap options);
    void createSession();
    void selectSources();
    void startCast();
    void openRemote(const QVariantMap &startResults);
    void listenToRequest(bool on);
    void listenToSession(bool on);
    void finish(bool cancelled);

    QDBusConnection m_bus;
    Step m_step = Step::None;
    SourceType m_type = Monitor;
    QString m_restoreToken;
    QString m_request; ///< the request object whose answer is awaited
    QString m_session; ///< the session's object path, once created
    uint m_cursorModes = 0;
    quint32 m_node = 0;
    QSize m_size;
};
