#pragma once

#include "services/DirectoryPerson.h"
#include "services/LdapSettings.h"

#include <QList>
#include <QObject>
#include <QString>

#include <memory>

/// The blocking side of the company directory: every call here waits on the network, so the
/// object lives in a thread of its own and answers by signals.
class LdapWorker final : public QObject
{
    Q_OBJECT

public:
    explicit LdapWorker(const LdapSettings &settings);
    ~LdapWorker() override;

    /// Cuts the connection of a call that has run past its time, or with `now` of any call,
    /// and then refuses every later one.
    /// The library's own timeouts do not bound every wait (a directory that takes the
    /// connection and stays silent holds a TLS handshake for ever). Safe from any thread.
    void interrupt(bool now = false);

    /// Binds as `userName` with `password`: answers verified().
    void verify(quint64 ticket, const QString &userName, const QString &password);
    /// Reads every person under the base: answers refreshed() or refreshFailed().
    void refresh();

Q_SIGNALS:
    /// `accepted` with what the directory holds of the person, or refused (`why` for the log).
    void verified(quint64 ticket, bool accepted, const DirectoryPerson &person, const QString &why);
    void refreshed(const QList<DirectoryPerson> &people);
    void refreshFailed(const QString &why);

private:
    bool check(const QString &userName, const QString &password, DirectoryPerson *person,
               QString *why) const;

    struct Watch;

    const LdapSettings m_settings;
    const std::unique_ptr<Watch> m_watch;
};
