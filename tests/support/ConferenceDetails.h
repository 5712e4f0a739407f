#pragma once

#include <QString>

#include <functional>

/// The conference details an engine in this process logs when asked, caught from the log.
class ConferenceDetails final
{
public:
    ConferenceDetails() = delete;

    /// Starts catching the details lines; call once, before the engine starts.
    static void catchFromLog();
    /// Makes the engine log its details with `request` and returns that line, or empty when none
    /// comes within `timeoutMs`.
    static QString ask(const std::function<void()> &request, int timeoutMs = 5000);
};
