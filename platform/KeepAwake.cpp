#include "platform/KeepAwake.h"

#include <QCoreApplication>

KeepAwake::KeepAwake(QObject *parent)
    : QObject(parent)
    , m_inhibit(QStringLiteral("org.freedesktop.ScreenSaver"),
                QStringLiteral("/org/freedesktop/ScreenSaver"),
                QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("UnInhibit"))
{
    connect(&m_inhibit, &SessionBusHandle::acquired, this, [this] { Q_EMIT tokenChanged(); });
}

KeepAwake::~KeepAwake() = default;

void KeepAwake::begin(const QString &reason)
{
    end();
    const QString application = QCoreApplication::applicationName().isEmpty()
                                    ? QStringLiteral("orvale")
                                    : QCoreApplication::applicationName();
    m_inhibit.request(QStringLiteral("Inhibit"), {application, reason});
}

void KeepAwake::end()
{
    const bool held = isHeld();
    m_inhibit.release();
    if (held)
        Q_EMIT tokenChanged();
}
