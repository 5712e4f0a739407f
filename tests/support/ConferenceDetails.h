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
    /// Whether the camera pictures of `who` (a part of the participant's URI, "u1001") arrive
    /// at the engine, or have stood still for a second and a half: a condition to wait for,
    /// which asks for the details with `request` and compares each count with the ones before.
    /// A new subscription counts from zero again.
    static std::function<bool()> picturesFlow(std::function<void()> request, const QString &who,
                                              bool flowing);
};
