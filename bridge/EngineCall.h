#pragma once

#include <QByteArray>

#include <cstdint>

/// The one place that calls the conferencing library's request and in-event functions. A failed
/// call is logged once, with its id and the library's code, unless the caller reports it itself.
class EngineCall final
{
public:
    EngineCall() = delete;

    /// Sends request `id` with `record`, which the library may fill in; 0 is success.
    static uint32_t request(uint32_t id, QByteArray &record);
    /// As request(), without the log line: for callers with a message of their own.
    static uint32_t tryRequest(uint32_t id, QByteArray &record);
    static bool event(uint32_t id, QByteArray &record);
    static bool event(uint32_t id);
    /// As event(), without the log line.
    static bool tryEvent(uint32_t id, QByteArray &record);
};
