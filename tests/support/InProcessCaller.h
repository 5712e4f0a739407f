#pragma once

#include "tests/support/RecordingDelegate.h"

#include <QString>

class QWidget;

/// This test process as a participant in a call: the real engine, driven through the bridge as
/// the client drives it, with what it asks of the windows recorded in `delegate`.
class InProcessCaller final
{
    Q_DISABLE_COPY_MOVE(InProcessCaller)

public:
    InProcessCaller() = default;

    /// Starts the engine, drawing into `view` if there is one.
    void start(QWidget *view);
    /// Signs `user` in (password: the name and "1234", as in the demo data), starting the
    /// engine first if need be.
    bool signIn(const QString &portal, const QString &user, QWidget *view = nullptr);
    /// Writes an engine settings file of `lines` ("key=value\n" each).
    static void writeSettings(const QString &path, const QByteArray &lines);
    /// Where the engine reads the settings of this process.
    static void useSettings(const QString &path);
    /// Joins `conference` through the portal as the client's join window does.
    bool join(const QString &portal, qint64 conference);
    /// Asks the portal to join `conference`, as the signed-in user, with the room's `pin` when
    /// it has one, and returns at once.
    static void requestJoin(const QString &portal, qint64 conference, const QString &pin = {});
    /// Leaves the call if in one, signs out and stops the engine as the client does when it
    /// quits; false when the leaving or the signing out was not confirmed.
    bool stop();
    bool started() const { return m_started; }

    RecordingDelegate delegate;

private:
    qsizetype count(const char *call) const { return delegate.calls.count(QLatin1String(call)); }

    QString m_user;
    bool m_started = false;
};
