#pragma once

#include "bridge/Notification.h"

#include <QObject>

#include <functional>

/// The application's named notifications. Observers always run on the main thread: a post
/// from the main thread reaches them at once, a post from another thread is queued there in
/// posting order. An observer goes away with its context object.
class NotificationCenter final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(NotificationCenter)

public:
    using Observer = std::function<void(const Notification &)>;

    // The application's notification names
    /// A conference became active.
    static inline const QString joinConferenceSuccess = QStringLiteral("JoinConferenceSuccess");
    /// A room link failed; "reason" in the user info is the text to show.
    static inline const QString roomLinkError = QStringLiteral("RoomLinkError");
    /// The far end muted or released this microphone; "isMuted" in the user info.
    static inline const QString changeMicFormNet = QStringLiteral("ChangeMicFormNet");
    /// A remote command for the speaker arrived; the object is its MessageModel.
    static inline const QString changeSpeakerFormNet = QStringLiteral("changeSpeakerFormNet");
    /// The machine's audio or video devices changed.
    static inline const QString deviceChange = QStringLiteral("deviceChange");

    static NotificationCenter *defaultCenter();

    QMetaObject::Connection addObserver(const QString &name, const QObject *context,
                                        Observer observer);
    void removeObserver(const QMetaObject::Connection &connection);
    void postNotificationName(const QString &name, const QVariant &object = {},
                              const QVariantMap &userInfo = {});

Q_SIGNALS:
    void posted(const Notification &notification);

private:
    NotificationCenter();
};
