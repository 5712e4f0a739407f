#pragma once

#include <QString>

/// A Janus run elsewhere that carries calls beside (or instead of) the deployment's own: where
/// engines reach it, where the deployment asks it for rooms, and the secrets it was configured
/// with, read from a file so that they never show in a process listing.
struct RelaySettings
{
    QString
        publicUrl;  ///< the Janus API as engines reach it, e.g. "https://relay2.example.org/janus"
    QString apiUrl; ///< the Janus API as the deployment reaches it (http, or https for TLS)
    QString apiSecret;   ///< Janus's api_secret, sent with every request when set
    QString adminKey;    ///< the VideoRoom plugin's admin_key, needed to make rooms
    QString tokenSecret; ///< Janus's token_auth_secret, which signs the engines' relay tokens

    /// "<public-url>,<api-url>,<secrets-file>" into `settings`; false and why when it is not
    /// one or its file lacks a secret. The file has lines "name = value" (quotes optional,
    /// "#" comments) for token_auth_secret, admin_key and optionally api_secret.
    static bool fromEntry(const QString &entry, RelaySettings *settings, QString *why);
};
