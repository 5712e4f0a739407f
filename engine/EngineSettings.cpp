#include "engine/EngineSettings.h"

#include <QSettings>
#include <QSslConfiguration>

#include <algorithm>

const QList<EngineSettings::Key> &EngineSettings::keys()
{
    static const QList<Key> all = {
        {"pingIntervalMs", "integer (ms)", "10000",
         "How often the engine pings the conference service; at least 50.", false},
        {"silenceLimitMs", "integer (ms)", "30000",
         "A service that sent nothing, not even a pong, for this long is gone: the engine drops "
         "the connection as if it had closed. At least the ping interval.",
         false},
        {"caFile", "path", "none",
         "Certificates (PEM) of authorities the engine trusts besides the system's, for the "
         "conference service's wss:// and the media relay's https://, e.g. a private "
         "deployment's or a test's own; an untrusted certificate fails the connection.",
         false},
        {"requestTimeoutMs", "integer (ms)", "5000",
         "How long each try of a request to the media relay (Janus) may take; one that takes "
         "longer is sent again, and the relay session is made again only when its keepalive or "
         "event poll keeps failing.",
         false},
        {"toneFrequency", "integer (Hz)", "one per participant",
         "Sends a generated tone of this pitch instead of the microphone's sound (machines "
         "without devices, tests).",
         false},
        {"pictureColour", "colour", "one per participant",
         "Sends a generated picture of this colour (#rrggbb or an SVG colour name) instead of the "
         "camera's.",
         false},
        {"audioRecordFolder", "path", "none",
         "Writes the received sound into a file per participant there (its id and .s16: S16LE, "
         "48 kHz, mono) instead of playing it, e.g. without a sound server; no echo cancellation "
         "then.",
         false},
        {"screenCastRestoreToken", "text", "none",
         "Written by the engine: lets the desktop's screen-cast portal share the last chosen "
         "source again without its chooser. Where the settings file is read-only, it is kept in "
         "the user's engine.ini instead.",
         false},
        {"testCamera", "boolean", "false",
         "Lists a generated picture as the last camera, sent only while it is chosen.", true},
        {"testSendLoss", "integer (%)", "-1",
         "Drops this share of the sent video's packets, as a lossy link would; -1 drops none. "
         "Read again whenever the client hands the file over.",
         true},
        {"publisherFailsAfter", "number (s)", "0",
         "Makes the source of a call's first publisher fail once after this time; 0 never.", true},
        {"connectTimeout", "number (s)", "0",
         "How long a new stream may take to connect before it counts as failed; 0 leaves 15 s.",
         true},
    };
    return all;
}

QString EngineSettings::settingsKey(const char *name)
{
    return QStringLiteral("engine/") + QLatin1String(name);
}

EngineSettings::EngineSettings(const QString &path)
{
    const QSettings file(path, QSettings::IniFormat);
    const auto value = [&file](const char *name, const QVariant &fallback) {
        return file.value(settingsKey(name), fallback);
    };
    pingIntervalMs = std::max(50, value("pingIntervalMs", pingIntervalMs).toInt());
    silenceLimitMs = std::max(pingIntervalMs, value("silenceLimitMs", silenceLimitMs).toInt());
    requestTimeoutMs = std::max(1, value("requestTimeoutMs", requestTimeoutMs).toInt());
    caFile = value("caFile", QString()).toString();
    if (file.contains(settingsKey("toneFrequency")))
        toneFrequency = value("toneFrequency", 0).toInt();
    if (file.contains(settingsKey("pictureColour")))
        pictureColour = value("pictureColour", QString()).toString();
    audioRecordFolder = value("audioRecordFolder", QString()).toString();
    testCamera = value("testCamera", false).toBool();
    testSendLoss = value("testSendLoss", testSendLoss).toInt();
    publisherFailsAfter = value("publisherFailsAfter", 0).toDouble();
    connectTimeout = value("connectTimeout", 0).toDouble();
}

QSslConfiguration EngineSettings::sslConfiguration() const
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
    if (!caFile.isEmpty())
        configuration.addCaCertificates(caFile, QSsl::Pem);
    return configuration;
}
