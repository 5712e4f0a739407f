#pragma once

#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class SessionBusHandle;

/// Announces an incoming call through the desktop's notification service
/// (`org.freedesktop.Notifications` on the session bus): critical urgency, so that it stays
/// until it is acted on, with an answer and a refuse action. Without a session bus or a
/// notification service nothing is shown and nothing else changes.
class IncomingCallNotification final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(IncomingCallNotification)

public:
    static constexpr quint8 criticalUrgency = 2;
    static QString acceptAction() { return QStringLiteral("accept"); }
    static QString declineAction() { return QStringLiteral("decline"); }

    explicit IncomingCallNotification(QObject *parent = nullptr);
    /// Withdraws the notification still shown.
    ~IncomingCallNotification() override;

    /// Shows the notification for a call from `caller`, replacing any earlier one.
    void show(const QString &caller, const QString &message);
    /// Closes the notification shown or still being requested.
    void withdraw();

    /// The desktop's id of the notification shown, if one is shown.
    std::optional<quint32> notificationId() const;

Q_SIGNALS:
    /// The desktop reported a click on "接听" (accepted) or "拒绝" (declined).
    void accepted();
    void declined();
    /// The desktop answered the request; `notificationId()` holds the id.
    void shown();

private Q_SLOTS:
    // QtDBus delivers bus signals only to slots named by their signature.
    void onActionInvoked(uint id, const QString &action);
    void onNotificationClosed(uint id, uint reason);

private:
    // The desktop's session-bus plumbing stays out of the windows' interface.
    std::unique_ptr<SessionBusHandle> m_note;
};
