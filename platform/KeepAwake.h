#pragma once

#include "model/KeepAwakeService.h"
#include "platform/SessionBusHandle.h"

#include <QObject>

#include <optional>

/// Keeps the display awake while video plays, through the desktop's screen-saver inhibit
/// service on the session bus. Without a session bus or such a service it does nothing.
class KeepAwake final : public QObject, public KeepAwakeService
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(KeepAwake)

public:
    explicit KeepAwake(QObject *parent = nullptr);
    ~KeepAwake() override;

    /// Takes a new inhibit (releasing any earlier one) with the given reason.
    void begin(const QString &reason) override;
    /// Releases the inhibit held or still being requested.
    void end() override;
    bool isHeld() const override { return m_inhibit.handle().has_value(); }

    /// The desktop's cookie of the inhibit held, if one is held.
    std::optional<quint32> token() const { return m_inhibit.handle(); }

Q_SIGNALS:
    void tokenChanged();

private:
    SessionBusHandle m_inhibit;
};
