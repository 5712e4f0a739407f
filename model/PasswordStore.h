#pragma once

#include <QObject>
#include <QString>

#include <functional>

/// The remembered login password, kept in the desktop's keychain (Secret Service, plugged in
/// by the platform library) rather than in a settings file. A password an earlier version left in
/// the settings is moved over on first read.
class PasswordStore final
{
public:
    using Done = std::function<void(const QString &password)>;

    /// Reads the remembered password; `done` runs later on the main thread with it, or with an
    /// empty text when there is none or no keychain answers. Nothing runs once `context` is gone.
    static void readPassword(QObject *context, Done done);
    /// Remembers `password`; an empty one forgets it. Without a keychain nothing is kept.
    /// `done`, when given, learns whether the keychain took it.
    static void writePassword(const QString &password, std::function<void(bool)> done = {});

    /// The keychain's service: the application's name, so that programs never share an entry.
    static QString service();

    /// Where the password is kept: the desktop's keychain, unless another is plugged in (tests
    /// plug in one of their own). Each call answers exactly once, later, on the main thread.
    /// Without any, nothing is kept and nothing is read.
    class Backend
    {
    public:
        virtual ~Backend() = default;
        /// `done` gets the password, or an empty text when there is none or on failure.
        virtual void read(std::function<void(const QString &)> done) = 0;
        /// An empty password removes the entry; `done` learns whether it was kept.
        virtual void write(const QString &password, std::function<void(bool)> done) = 0;
    };
    /// The desktop's keychain (not owned), which the application plugs in at start; null for none.
    static void setDesktopBackend(Backend *backend);
    /// Plugs in `backend` (not owned) in place of the desktop's; null goes back to the desktop's.
    static void setBackend(Backend *backend);
    static inline const QString key = QStringLiteral("PassWord");
};
