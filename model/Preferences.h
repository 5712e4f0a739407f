#pragma once

#include <QSettings>
#include <QString>

/// Every per-user preference of the client, each with its one key, type and default.
/// Writes go straight to the store; QSettings saves its file atomically.
class Preferences final
{
public:
    Preferences();

    QString userIp() const;
    void setUserIp(const QString &address);
    QString userName() const;
    void setUserName(const QString &name);
    /// A password an earlier version kept here ("PassWord"); PasswordStore moves it into the
    /// keychain, where remembered passwords are kept now.
    QString passWord() const;
    void setPassWord(const QString &password);
    void removePassWord();

    int remberPassword() const;
    void setRemberPassword(int on);
    int autoLogin() const;
    void setAutoLogin(int on);
    int enableEchoCancellation() const;
    void setEnableEchoCancellation(int on);
    int enableAudioAGC() const;
    void setEnableAudioAGC(int on);
    int searchOutsideRoom() const;
    void setSearchOutsideRoom(int on);
    int autoAnswer() const;
    void setAutoAnswer(int on);
    int alwaysUseProxy() const;
    void setAlwaysUseProxy(int on);
    int videoPreferences() const;
    void setVideoPreferences(int value);

    uint selectedMicDeviceNumber() const;
    void setSelectedMicDeviceNumber(uint row);
    uint selectedSpeakerDeviceNumber() const;
    void setSelectedSpeakerDeviceNumber(uint row);
    uint selectedCameraDeviceNumber() const;
    void setSelectedCameraDeviceNumber(uint row);

    /// The stored live-player volume; 0.618 when none is stored.
    double directLiveVolume() const;
    /// The volume the live player opens or unmutes at: a stored 0 also reads as 0.618.
    double directLiveStartVolume() const;
    void setDirectLiveVolume(double volume);

    qint64 systemTime() const;
    void setSystemTime(qint64 value);

    /// Whether the last sign-in went through the HTTPS login. The services of that server are
    /// then reached over HTTPS too, so that a broadcast list or an update link cannot be swapped
    /// on the way by someone answering the plain port.
    bool signedInSecurely() const;
    void setSignedInSecurely(bool secure);
    /// Whether the login service at `address` (as typed, blanks and case aside) has answered
    /// over HTTPS. The client then never makes the plain attempt there again, where whoever
    /// answers the plain port would be handed the password. The server of a last sign-in that
    /// went over HTTPS counts too.
    bool reachedSecurely(const QString &address) const;
    void rememberReachedSecurely(const QString &address);
    /// "scheme://host:port" of the company's web services at `host`: HTTPS on the TLS login port
    /// for a server reached securely, the plain web port otherwise.
    QString webServiceBase(const QString &host) const;

    // Deployment: addresses of the company's services, by default on the login server.
    QString liveServiceUrl() const;
    void setLiveServiceUrl(const QString &url);
    QString updateHost() const;
    void setUpdateHost(const QString &host);
    QString companySite() const;
    void setCompanySite(const QString &site);

    void sync();

    static constexpr double defaultDirectLiveVolume = 0.618;

private:
    int flag(const char *key, int fallback) const;
    void setFlag(const char *key, int value);

    QSettings m_settings;
};
