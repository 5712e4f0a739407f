#pragma once

#include <QList>
#include <QString>

#include <optional>

class QSslConfiguration;

/// The engine's settings file (`System.ecf`, an INI file whose path the client hands over with
/// in-event 1705): every key the engine reads, under the file's `[engine]` group, with its type,
/// default and meaning, read in this one place. A missing file or key leaves the default.
class EngineSettings final
{
public:
    /// A key as the README's table lists it.
    struct Key
    {
        const char *name;
        const char *type;
        const char *fallback; ///< the default, in words where it is no single value
        const char *meaning;
        bool testOnly; ///< read only so that tests can make the engine do what they watch
    };
    /// Every key, in the order of the README's table.
    static const QList<Key> &keys();
    /// The key `name` as QSettings names it: in the `[engine]` group.
    static QString settingsKey(const char *name);

    /// Every default.
    EngineSettings() = default;
    explicit EngineSettings(const QString &path);

    /// What every TLS connection of the engine verifies against: the system's store and caFile.
    QSslConfiguration sslConfiguration() const;

    int pingIntervalMs = 10000;
    int silenceLimitMs = 30000;
    int requestTimeoutMs = 5000;
    QString caFile;                       ///< trusted besides the system's certificate store
    std::optional<int> toneFrequency;     ///< set: the generated tone is sent, at this pitch
    std::optional<QString> pictureColour; ///< set: the generated picture is sent
    QString audioRecordFolder;
    bool testCamera = false;
    int testSendLoss = -1;
    double publisherFailsAfter = 0; ///< seconds
    double connectTimeout = 0;      ///< seconds
};
