#pragma once

#include <QString>

/// Keeps the display awake while video plays. The platform library supplies the desktop's
/// service; AppStatus does without one.
class KeepAwakeService
{
public:
    virtual ~KeepAwakeService() = default;

    /// Takes a new hold (releasing any earlier one) with the given reason.
    virtual void begin(const QString &reason) = 0;
    /// Releases the hold taken or still being requested.
    virtual void end() = 0;
    /// Whether the desktop granted the hold.
    virtual bool isHeld() const = 0;
};
