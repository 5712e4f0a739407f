#include "services/AccountCommand.h"

#include "services/SecretPrompt.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QCommandLineOption option(const char *name, const char *description, const char *value = nullptr)
{
    return value ? QCommandLineOption(QLatin1String(name), QLatin1String(description),
                                      QLatin1String(value))
                 : QCommandLineOption(QLatin1String(name), QLatin1String(description));
}

/// No ":" (it ends the name in a Basic authorization) and nothing a shell or a log would mangle.
bool isUserName(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9][A-Za-z0-9._@-]{0,63}$"));
    return pattern.match(name).hasMatch();
}

QString weakness(const QString &userName, const QString &password)
{
    if (password.size() < 8)
        return QStringLiteral("a password needs at least 8 characters");
    if (password.size() > 128)
        return QStringLiteral("a password has at most 128 characters");
    if (password.compare(userName, Qt::CaseInsensitive) == 0)
        return QStringLiteral("a password must not be the user name");
    return {};
}

/// 128 random bits: a room's key cannot be guessed from its id or its name.
QString randomRoomKey()
{
    QByteArray bytes(16, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32 *>(bytes.data()),
                                          bytes.size() / 4);
    return QString::fromLatin1(bytes.toHex());
}

/// Run by root, the command makes a missing database the data folder owner's: the service
/// runs as that user. SQLite gives its journal files the owner of the database when run by root.
bool ownedByFolderOwner(const QString &dir, const QString &path)
{
    struct stat folder = {};
    if (::geteuid() != 0 || QFileInfo::exists(path) ||
        ::stat(QFile::encodeName(dir).constData(), &folder) != 0 || folder.st_uid == 0)
        return true;
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL, 0640);
    const bool given = fd >= 0 && ::fchown(fd, folder.st_uid, folder.st_gid) == 0;
    if (fd >= 0)
        ::close(fd);
    return given;
}

const char usageText[] =
    "usage: orvale-services account add NAME [--display-name TEXT] [--email ADDRESS]\n"
    "           [--company ID] [--admin]\n"
    "       orvale-services account passwd|disable|enable|remove NAME\n"
    "       orvale-services account list\n"
    "       orvale-services room add NAME --owner USER [--seats N] [--pin]\n"
    "       orvale-services room remove ID|NAME\n"
    "       orvale-services room list\n"
    "each with [--data DIR], the service's data folder, or the service's PostgreSQL database:\n"
    "[--database postgresql://... [--database-password-file FILE]]; passwords and PINs are\n"
    "read from standard input, or asked for on a terminal\n";

} // namespace

bool AccountCommand::handles(const QStringList &arguments)
{
    return arguments.size() > 1 && (arguments.at(1) == u"account" || arguments.at(1) == u"room");
}

AccountCommand::AccountCommand(const QStringList &arguments)
    : m_arguments(arguments)
{
    m_parser.addOptions({
        QCommandLineOption({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Usage.")),
        option("data", "Data folder.", "dir"),
        option("database", "The service's PostgreSQL database (default: the data folder's).",
               "url"),
        option("database-password-file", "The file holding its user's password.", "file"),
        option("display-name", "The member's name in the directory.", "text"),
        option("email", "The member's e-mail address.", "address"),
        option("company", "The company id of the live broadcasts the member sees.", "id"),
        option("admin", "The member is shown the administration link."),
        option("owner", "The account owning the room.", "user"),
        option("seats", "How many people the room holds.", "count"),
        option("pin", "Ask for a PIN the room's guests must give."),
    });
    // Only to refuse it with a reason: a password on the command line is visible to all.
    QCommandLineOption password(QStringLiteral("password"), {}, QStringLiteral("password"));
    password.setFlags(QCommandLineOption::HiddenFromHelp);
    m_parser.addOption(password);
}

int AccountCommand::run()
{
    if (!m_parser.parse(m_arguments))
        return usage(m_parser.errorText());
    if (m_parser.isSet(QStringLiteral("help"))) {
        std::fputs(usageText, stdout);
        return 0;
    }
    if (m_parser.isSet(QStringLiteral("password")))
        return usage(QStringLiteral("a password is never taken from the command line: it is "
                                    "read from standard input, or asked for"));
    const QStringList words = m_parser.positionalArguments();
    const bool list = words.value(1) == u"list";
    if (words.size() != (list ? 2 : 3))
        return usage({});
    if (!openData())
        return 1;
    return words.first() == u"account" ? runAccount(words.at(1), words.value(2))
                                       : runRoom(words.at(1), words.value(2));
}

int AccountCommand::runAccount(const QString &verb, const QString &name)
{
    if (verb == u"add")
        return addAccount(name);
    if (verb == u"passwd")
        return changePassword(name);
    if (verb == u"disable" || verb == u"enable")
        return setDisabled(name, verb == u"disable");
    if (verb == u"remove")
        return removeAccount(name);
    if (verb == u"list")
        return listAccounts();
    return usage(QStringLiteral("no account command ") + verb);
}

int AccountCommand::runRoom(const QString &verb, const QString &name)
{
    if (verb == u"add")
        return addRoom(name);
    if (verb == u"remove")
        return removeRoom(name);
    if (verb == u"list")
        return listRooms();
    return usage(QStringLiteral("no room command ") + verb);
}

bool AccountCommand::openData()
{
    DatabaseSettings settings;
    QString error;
    if (!DatabaseSettings::fromOptions(m_parser.value(QStringLiteral("database")),
                                       m_parser.value(QStringLiteral("database-password-file")),
                                       &settings, &error)) {
        refuse(error);
        return false;
    }
    if (settings.postgres()) {
        if (m_db.open(settings, false, &error))
            return true;
        refuse(QStringLiteral("cannot open the database: ") + error);
        return false;
    }
    const QString dir = m_parser.isSet(QStringLiteral("data"))
                            ? m_parser.value(QStringLiteral("data"))
                            : QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    // A mistyped folder is not made: the accounts would land where no service reads them.
    if (!QFileInfo(dir).isDir()) {
        refuse(QStringLiteral("no data folder %1").arg(dir));
        return false;
    }
    const QString path = dir + QStringLiteral("/orvale.sqlite");
    if (!ownedByFolderOwner(dir, path)) {
        refuse(QStringLiteral("cannot give %1 to the owner of its folder").arg(path));
        return false;
    }
    if (m_db.open(path, false, &error))
        return true;
    refuse(QStringLiteral("cannot open the database in %1: %2").arg(dir, error));
    return false;
}

int AccountCommand::addAccount(const QString &name)
{
    if (!isUserName(name))
        return refuse(QStringLiteral("%1 is not a user name: letters, digits and . _ @ -, at "
                                     "most 64, starting with a letter or digit")
                          .arg(name));
    if (m_db.account(name))
        return refuse(QStringLiteral("account %1 exists already").arg(name));
    const QString password = newPassword(name);
    if (password.isEmpty())
        return 1;
    Account account;
    account.userName = name;
    account.coId = m_parser.isSet(QStringLiteral("company"))
                       ? m_parser.value(QStringLiteral("company"))
                       : QStringLiteral("C001");
    account.userRole = m_parser.isSet(QStringLiteral("admin")) ? 1 : 0;
    account.play = 1;
    if (!m_db.transaction())
        return refuse(QStringLiteral("the database is busy: try again"));
    account.entityID = m_db.nextEntityID();
    if (!m_db.addEntry(memberEntry(account)) || !m_db.addAccount(account, password) ||
        !m_db.commit()) {
        m_db.rollback();
        return refuse(QStringLiteral("account %1 could not be added").arg(name));
    }
    tell(QStringLiteral("added account %1 (%2)").arg(name).arg(account.entityID));
    return 0;
}

DirectoryEntry AccountCommand::memberEntry(const Account &account) const
{
    DirectoryEntry e;
    e.entityID = account.entityID;
    e.kind = QStringLiteral("Member");
    e.displayName = m_parser.value(QStringLiteral("display-name")).trimmed();
    if (e.displayName.isEmpty())
        e.displayName = account.userName;
    e.emailAddress = m_parser.value(QStringLiteral("email"));
    e.extension = QString::number(account.entityID);
    e.tenant = QStringLiteral("Default");
    e.presence = QStringLiteral("Offline");
    e.ownerID = account.entityID;
    e.roomKey = randomRoomKey();
    e.capacity = 50;
    return e;
}

int AccountCommand::changePassword(const QString &name)
{
    if (!existing(name))
        return 1;
    // It would never be asked for: the directory checks the person's password.
    if (m_db.isDirectoryAccount(name))
        return refuse(
            QStringLiteral("the password of %1 is kept by the company directory").arg(name));
    const QString password = newPassword(name);
    if (password.isEmpty())
        return 1;
    // A fresh salt: the stored hash changes even for the same password.
    if (!m_db.setPassword(name, password))
        return refuse(QStringLiteral("the password of %1 could not be changed").arg(name));
    tell(QStringLiteral("changed the password of %1").arg(name));
    return 0;
}

int AccountCommand::setDisabled(const QString &name, bool disabled)
{
    if (!existing(name))
        return 1;
    if (!m_db.setDisabled(name, disabled))
        return refuse(QStringLiteral("account %1 could not be changed").arg(name));
    tell((disabled ? QStringLiteral("disabled account %1") : QStringLiteral("enabled account %1"))
             .arg(name));
    return 0;
}

int AccountCommand::removeAccount(const QString &name)
{
    const auto account = existing(name);
    if (!account)
        return 1;
    QStringList owned;
    for (const DirectoryEntry &room : m_db.rooms()) {
        if (room.ownerID == account->entityID)
            owned.append(QString::number(room.entityID));
    }
    if (!owned.isEmpty())
        return refuse(QStringLiteral("account %1 owns the rooms %2: remove them first")
                          .arg(name, owned.join(QStringLiteral(", "))));
    if (!m_db.transaction())
        return refuse(QStringLiteral("the database is busy: try again"));
    if (!m_db.removeAccount(*account) || !m_db.commit()) {
        m_db.rollback();
        return refuse(QStringLiteral("account %1 could not be removed").arg(name));
    }
    tell(QStringLiteral("removed account %1").arg(name));
    return 0;
}

int AccountCommand::listAccounts() const
{
    for (const Account &a : m_db.accounts()) {
        const auto entry = m_db.entry(a.entityID);
        tell(QStringLiteral("%1\t%2\t%3\t%4\t%5")
                 .arg(a.userName, QString::number(a.entityID),
                      a.disabled ? QStringLiteral("disabled") : QStringLiteral("enabled"),
                      a.userRole == 1 ? QStringLiteral("admin") : QStringLiteral("member"),
                      entry ? entry->displayName : QString()));
    }
    return 0;
}

int AccountCommand::addRoom(const QString &name)
{
    const QString title = name.trimmed();
    if (title.isEmpty() || title.size() > 64)
        return refuse(QStringLiteral("a room's name has 1 to 64 characters"));
    if (!m_parser.isSet(QStringLiteral("owner")))
        return refuse(QStringLiteral("a room needs an owner: --owner USER"));
    const auto owner = existing(m_parser.value(QStringLiteral("owner")));
    if (!owner)
        return 1;
    bool isNumber = true;
    const int seats = m_parser.isSet(QStringLiteral("seats"))
                          ? m_parser.value(QStringLiteral("seats")).toInt(&isNumber)
                          : 20;
    if (!isNumber || seats < 1 || seats > 1000)
        return refuse(QStringLiteral("a room has 1 to 1000 seats"));
    DirectoryEntry room;
    room.kind = QStringLiteral("Room");
    room.displayName = title;
    room.tenant = QStringLiteral("Default");
    room.presence = QStringLiteral("Online");
    room.ownerID = owner->entityID;
    room.roomKey = randomRoomKey();
    room.capacity = seats;
    if (m_parser.isSet(QStringLiteral("pin")) && !readPin(&room))
        return 1;
    return insertRoom(room, owner->userName);
}

bool AccountCommand::readPin(DirectoryEntry *room) const
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]{4,16}$"));
    QString error;
    const auto pin = SecretPrompt::read(QStringLiteral("PIN"), room->displayName, &error);
    if (pin && !digits.match(*pin).hasMatch())
        error = QStringLiteral("a PIN has 4 to 16 digits");
    if (!error.isEmpty()) {
        refuse(error);
        return false;
    }
    room->pin = *pin;
    return true;
}

int AccountCommand::insertRoom(DirectoryEntry room, const QString &owner)
{
    if (!m_db.transaction())
        return refuse(QStringLiteral("the database is busy: try again"));
    room.entityID = m_db.nextEntityID();
    room.extension = QString::number(room.entityID);
    // In the owner's contacts: the directory search finds members only.
    if (!m_db.addEntry(room) || !m_db.addContact(room.ownerID, room.entityID) || !m_db.commit()) {
        m_db.rollback();
        return refuse(QStringLiteral("room %1 could not be added").arg(room.displayName));
    }
    tell(QStringLiteral("added room %1 (%2), owned by %3")
             .arg(room.displayName, QString::number(room.entityID), owner));
    return 0;
}

int AccountCommand::removeRoom(const QString &name)
{
    QList<DirectoryEntry> found;
    for (const DirectoryEntry &room : m_db.rooms()) {
        if (QString::number(room.entityID) == name || room.displayName == name)
            found.append(room);
    }
    if (found.isEmpty())
        return refuse(QStringLiteral("no room %1").arg(name));
    if (found.size() > 1)
        return refuse(QStringLiteral("several rooms are named %1: give the id").arg(name));
    if (!m_db.transaction())
        return refuse(QStringLiteral("the database is busy: try again"));
    if (!m_db.removeEntry(found.first().entityID) || !m_db.commit()) {
        m_db.rollback();
        return refuse(QStringLiteral("room %1 could not be removed").arg(name));
    }
    tell(QStringLiteral("removed room %1 (%2)")
             .arg(found.first().displayName, QString::number(found.first().entityID)));
    return 0;
}

int AccountCommand::listRooms() const
{
    QHash<qint64, QString> owners;
    for (const Account &a : m_db.accounts())
        owners.insert(a.entityID, a.userName);
    for (const DirectoryEntry &room : m_db.rooms()) {
        tell(QStringLiteral("%1\t%2\t%3\t%4\t%5")
                 .arg(QString::number(room.entityID), room.displayName,
                      owners.value(room.ownerID, QStringLiteral("-")),
                      QString::number(room.capacity),
                      room.pin.isEmpty() ? QStringLiteral("-") : QStringLiteral("PIN")));
    }
    return 0;
}

QString AccountCommand::newPassword(const QString &name)
{
    QString error;
    const auto password = SecretPrompt::read(QStringLiteral("password"), name, &error);
    if (!password) {
        refuse(error);
        return {};
    }
    if (const QString weak = weakness(name, *password); !weak.isEmpty()) {
        refuse(weak);
        return {};
    }
    return *password;
}

std::optional<Account> AccountCommand::existing(const QString &name)
{
    auto account = m_db.account(name);
    if (!account)
        refuse(QStringLiteral("no account %1").arg(name));
    return account;
}

int AccountCommand::usage(const QString &problem) const
{
    if (!problem.isEmpty())
        std::fprintf(stderr, "orvale-services: %s\n", qPrintable(problem));
    std::fputs(usageText, stderr);
    return 2;
}

int AccountCommand::refuse(const QString &message) const
{
    std::fprintf(stderr, "orvale-services: %s\n", qPrintable(message));
    return 1;
}

void AccountCommand::tell(const QString &message) const
{
    std::printf("%s\n", qPrintable(message));
}
