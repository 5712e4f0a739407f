#pragma once

#include "services/ServiceDatabase.h"

#include <QCommandLineParser>
#include <QStringList>

/// `orvale-services account …` and `orvale-services room …`: the administrator's commands on
/// the deployment's database, run beside the service, which sees each change at its next
/// request. Messages go to standard output, errors to standard error; the exit code is 0,
/// 1 for a refused change, 2 for a command line that is not understood.
class AccountCommand final
{
public:
    /// True when the program's arguments (the program first) name one of these commands.
    static bool handles(const QStringList &arguments);

    explicit AccountCommand(const QStringList &arguments);
    int run();

private:
    int runAccount(const QString &verb, const QString &name);
    int runRoom(const QString &verb, const QString &name);
    bool openData();

    int addAccount(const QString &name);
    int changePassword(const QString &name);
    int setDisabled(const QString &name, bool disabled);
    int removeAccount(const QString &name);
    int listAccounts() const;

    DirectoryEntry memberEntry(const Account &account) const;

    int addRoom(const QString &name);
    bool readPin(DirectoryEntry *room) const;
    int insertRoom(DirectoryEntry room, const QString &owner);
    int removeRoom(const QString &name);
    int listRooms() const;

    /// A password read and checked for `name`; empty after an error was told.
    QString newPassword(const QString &name);
    std::optional<Account> existing(const QString &name);
    int usage(const QString &problem) const;
    int refuse(const QString &message) const;
    void tell(const QString &message) const;

    QStringList m_arguments;
    QCommandLineParser m_parser;
    ServiceDatabase m_db;
};
