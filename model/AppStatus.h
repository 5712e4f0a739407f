#pragma once

#include "model/RootModel.h"

#include <QMutex>

#include <atomic>

class KeepAwakeService;
class ReachabilityService;

/// Volatile application flags, network reachability and the keep-awake activity.
/// The flags and currentRometeUri may be touched from the engine's callback thread.
class AppStatus final : public RootModel
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AppStatus)
    Q_PROPERTY(bool isSignIn READ isSignIn WRITE setIsSignIn)
    Q_PROPERTY(bool isChinese READ isChinese WRITE setIsChinese)
    Q_PROPERTY(bool isInConference READ isInConference WRITE setIsInConference)
    Q_PROPERTY(bool isChangePassword READ isChangePassword WRITE setIsChangePassword)
    Q_PROPERTY(bool isDirectLive READ isDirectLive WRITE setIsDirectLive)
    Q_PROPERTY(bool isRemberPassword READ isRemberPassword WRITE setIsRemberPassword)
    Q_PROPERTY(bool isAutoLogin READ isAutoLogin WRITE setIsAutoLogin)
    Q_PROPERTY(bool isStartByWeb READ isStartByWeb WRITE setIsStartByWeb)
    Q_PROPERTY(QString currentRometeUri READ currentRometeUri WRITE setCurrentRometeUri)
    Q_PROPERTY(qint64 networkStatus READ networkStatus)
    Q_PROPERTY(QString networkStatusString READ networkStatusString)
    Q_PROPERTY(bool activity READ hasActivity)

public:
    /// The shared status. Reachability monitoring starts with networkChange(), which the
    /// application calls once its first window is on screen (loading the backends takes a while).
    static AppStatus *shareStatus();

    bool isSignIn() const { return m_isSignIn; }
    void setIsSignIn(bool on) { m_isSignIn = on; }
    bool isChinese() const { return m_isChinese; }
    void setIsChinese(bool on) { m_isChinese = on; }
    bool isInConference() const { return m_isInConference; }
    void setIsInConference(bool on);
    /// Counts the conferences that became active: a join answered after this changed was
    /// overtaken by the conference itself.
    quint64 conferenceSerial() const { return m_conferenceSerial; }
    bool isChangePassword() const { return m_isChangePassword; }
    void setIsChangePassword(bool on) { m_isChangePassword = on; }
    bool isDirectLive() const { return m_isDirectLive; }
    void setIsDirectLive(bool on);
    bool isRemberPassword() const { return m_isRemberPassword; }
    void setIsRemberPassword(bool on) { m_isRemberPassword = on; }
    bool isAutoLogin() const { return m_isAutoLogin; }
    void setIsAutoLogin(bool on) { m_isAutoLogin = on; }
    bool isStartByWeb() const { return m_isStartByWeb; }
    void setIsStartByWeb(bool on) { m_isStartByWeb = on; }

    QString currentRometeUri() const;
    void setCurrentRometeUri(const QString &uri);

    qint64 networkStatus() const { return m_networkStatus; }
    QString networkStatusString() const;

    /// Begins (true) or ends (false) the activity that keeps the display awake.
    void shouldAlwaysKeepScreenLight(bool on);
    bool hasActivity() const;

    /// The platform's services (not owned); null for none. The keep-awake service is used on
    /// the main thread.
    void setKeepAwakeService(KeepAwakeService *service);
    void setReachabilityService(ReachabilityService *service);

    /// Registers for reachability changes and reads the current state.
    void networkChange();
    /// Stores a reachability state (-1 unknown, 0 none, 1 mobile, 2 WiFi), then announces it.
    void reachabilityChanged(qint64 status);
    static QString textForNetworkStatus(qint64 status);
    /// Whether a UI language tag ("zh-CN", "zh-Hant-TW", "en-US") names Chinese.
    static bool isChineseLanguage(const QString &uiLanguage);

Q_SIGNALS:
    /// The application-wide reachability announcement, after the status is stored.
    void networkStatusChanged(qint64 status);

private:
    AppStatus();

    std::atomic<bool> m_isSignIn = false;
    std::atomic<bool> m_isChinese = false;
    std::atomic<bool> m_isInConference = false;
    std::atomic<quint64> m_conferenceSerial = 0;
    std::atomic<bool> m_isChangePassword = false;
    std::atomic<bool> m_isDirectLive = false;
    std::atomic<bool> m_isRemberPassword = false;
    std::atomic<bool> m_isAutoLogin = false;
    std::atomic<bool> m_isStartByWeb = false;
    mutable QMutex m_uriMutex;
    QString m_currentRometeUri;
    std::atomic<qint64> m_networkStatus = -1;
    QString m_networkStatusString = QStringLiteral("未知");
    KeepAwakeService *m_keepAwake = nullptr;
    ReachabilityService *m_reachability = nullptr;
    bool m_watching = false;
};
