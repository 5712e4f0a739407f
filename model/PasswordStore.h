#pragma once

#include <QObject>
#include <QString>

#include <functional>

/// The remembered login password, kept in the desktop's keychain (Secret Service) rather than
/// in a settings file. A password an earlier version left in the settings is moved over on
/// first read.
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
    static inline const QString key = QStringLiteral("PassWord");
};
