#pragma once

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

/// A Janus run by the test as a relay run elsewhere would be, by the program
/// orvale-outsiderelay: its API and media on an address of its own (a network lab host's,
/// through its launcher), its configuration and the secrets a deployment reads from a file in
/// a folder of the test's. It stops when the object goes, and when the test dies.
class OutsideRelay final
{
public:
    explicit OutsideRelay(const QString &address, const QStringList &launcher = {});
    ~OutsideRelay();
    OutsideRelay(const OutsideRelay &) = delete;
    OutsideRelay &operator=(const OutsideRelay &) = delete;

    /// Starts it; true once Janus answers.
    bool start(QString *error);
    /// Where engines and the deployment reach its API, e.g. "http://<address>:<port>/janus".
    QString url() const { return m_url; }
    /// "<public-url>,<api-url>,<secrets-file>" for the deployment's --relays.
    QString entry() const;
    /// The folder Janus's configuration lies in, as JanusProbe reads it.
    QString folder() const { return m_folder.path(); }
    /// Its Janus process, to be held up (SIGSTOP) as a relay that stops answering.
    qint64 janusPid() const { return m_janus; }
    /// Kills it at once, as a relay that dies: nothing is stopped in order.
    void kill();

private:
    QString m_address;
    QStringList m_launcher;
    QTemporaryDir m_folder;
    QProcess m_process;
    QString m_url;
    qint64 m_janus = 0;
};
