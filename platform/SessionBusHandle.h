#pragma once

#include <QObject>
#include <QString>
#include <QVariantList>

#include <optional>

/// A handle a desktop service on the session bus hands out and wants back: a screen-saver
/// inhibit cookie, a notification id. At most one is held; a reply that arrives after a newer
/// request or a release is given back at once, so none is left behind. Without a session bus
/// nothing is requested.
class SessionBusHandle final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SessionBusHandle)

public:
    /// `releaseMethod` takes the handle as its one argument.
    SessionBusHandle(QString service, QString path, QString interface, QString releaseMethod,
                     QObject *parent = nullptr);
    /// Gives back the handle held.
    ~SessionBusHandle() override;

    /// Calls `method`, whose reply is the new handle, after giving back the one held.
    void request(const QString &method, const QVariantList &arguments);
    /// Gives back the handle held or still being requested.
    void release();
    /// Forgets the handle held without giving it back: the service has dropped it.
    void forget() { m_handle.reset(); }

    std::optional<quint32> handle() const { return m_handle; }

Q_SIGNALS:
    /// The service answered the latest request; `handle()` holds its answer.
    void acquired();

private:
    void giveBack(quint32 handle) const;

    QString m_service;
    QString m_path;
    QString m_interface;
    QString m_releaseMethod;
    std::optional<quint32> m_handle;
    quint64 m_generation = 0; // replies to requests older than this one are given back
};
