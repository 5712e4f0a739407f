#include "tests/support/TlsFront.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QThread>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

bool writeFile(const QString &path, const QString &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text.toUtf8()) >= 0;
}

} // namespace

TlsFront::TlsFront(const QString &address, const Ports &ports, const QString &certificate,
                   const QString &key)
    : m_address(address)
    , m_ports(ports)
    , m_certificate(certificate)
    , m_key(key)
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

TlsFront::~TlsFront()
{
    stop();
}

QString TlsFront::base() const
{
    return QStringLiteral("https://%1:%2").arg(m_address).arg(m_ports.front);
}

QString TlsFront::site(QString *error) const
{
    QFile shipped(QStringLiteral(ORVALE_NGINX_SITE));
    if (!shipped.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read ") + shipped.fileName();
        return {};
    }
    QString text = QString::fromUtf8(shipped.readAll());
    const auto listen = [this](quint16 port) {
        return QStringLiteral("listen %1:%2 ssl;").arg(m_address).arg(port);
    };
    const auto upstream = [](quint16 port) {
        return QStringLiteral("server 127.0.0.1:%1;").arg(port);
    };
    const auto upstreams = [](const QStringList &servers, const QString &one) {
        if (servers.isEmpty())
            return one;
        QStringList lines;
        for (const QString &server : servers)
            lines.append(QStringLiteral("server %1 max_fails=1 fail_timeout=10s;").arg(server));
        return lines.join(QStringLiteral("\n    "));
    };
    const QList<QPair<QString, QString>> replaced{
        {QStringLiteral("listen 443 ssl;"), listen(m_ports.front)},
        {QStringLiteral("listen 9090 ssl;"), listen(m_ports.tlsLogin)},
        {QStringLiteral("server 127.0.0.1:8080;"), upstreams(m_webServers, upstream(m_ports.web))},
        {QStringLiteral("server 127.0.0.1:8081;"),
         upstreams(m_portalServers, upstream(m_ports.portal))},
        {QStringLiteral("server 127.0.0.1:8088;"), upstream(m_ports.janus)},
        {QStringLiteral("/var/lib/orvale-services/cert.pem"), m_certificate},
        {QStringLiteral("/var/lib/orvale-services/key.pem"), m_key},
    };
    for (const auto &[from, to] : replaced) {
        if (!text.contains(from)) {
            *error = QStringLiteral("the shipped site has no \"%1\"").arg(from);
            return {};
        }
        text.replace(from, to);
    }
    // The test listens on one address of its own only.
    QStringList lines = text.split(u'\n');
    lines.removeIf(
        [](const QString &line) { return line.contains(QStringLiteral("listen [::]")); });
    return lines.join(u'\n');
}

bool TlsFront::start(QString *error)
{
    const QString site = this->site(error);
    if (site.isEmpty())
        return false;
    const QString dir = m_dir.path();
    // Nothing of the system's nginx: no /etc/nginx, /var/log/nginx or /var/lib/nginx.
    const QString main =
        QStringLiteral("daemon off;\nworker_processes 1;\npid %1/nginx.pid;\n"
                       "error_log %1/error.log info;\n%2"
                       "events {\n    worker_connections 256;\n}\n"
                       "http {\n    access_log %1/access.log;\n"
                       "    client_body_temp_path %1/body;\n    proxy_temp_path %1/proxy;\n"
                       "    fastcgi_temp_path %1/fastcgi;\n    uwsgi_temp_path %1/uwsgi;\n"
                       "    scgi_temp_path %1/scgi;\n    include %1/orvale;\n}\n")
            .arg(dir, ::geteuid() == 0 ? QStringLiteral("user root root;\n") : QString());
    if (!m_dir.isValid() || !writeFile(dir + QStringLiteral("/orvale"), site) ||
        !writeFile(dir + QStringLiteral("/nginx.conf"), main)) {
        *error = QStringLiteral("cannot write the nginx configuration into ") + dir;
        return false;
    }
    const QString nginx = QStandardPaths::findExecutable(
        QStringLiteral("nginx"), {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin")});
    if (nginx.isEmpty()) {
        *error = QStringLiteral("nginx is missing");
        return false;
    }
    const QStringList command = m_launcher + QStringList{nginx,
                                                         QStringLiteral("-p"),
                                                         dir,
                                                         QStringLiteral("-e"),
                                                         dir + QStringLiteral("/error.log"),
                                                         QStringLiteral("-c"),
                                                         dir + QStringLiteral("/nginx.conf")};
    m_process.start(command.first(), command.mid(1));
    if (!m_process.waitForStarted()) {
        *error = QStringLiteral("nginx did not start: ") + m_process.errorString();
        return false;
    }
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired() && m_process.state() == QProcess::Running) {
        if (!m_launcher.isEmpty() && QFile::exists(dir + QStringLiteral("/nginx.pid")))
            return true; // its address may be out of this process's reach
        QTcpSocket probe;
        probe.connectToHost(m_address, m_ports.front);
        if (probe.waitForConnected(200))
            return true;
        QThread::msleep(100);
    }
    QFile log(dir + QStringLiteral("/error.log"));
    (void)log.open(QIODevice::ReadOnly);
    *error = QStringLiteral("nginx did not come up: ") + QString::fromUtf8(m_process.readAll()) +
             QString::fromUtf8(log.readAll());
    return false;
}

void TlsFront::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000))
        m_process.kill();
    m_process.waitForFinished(1000);
}
