#pragma once

#include "bridge/shared/ConfClient.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QMutex>

#include <functional>

/// Stands in for the conferencing library in unit tests: records every request and in-event
/// with its bytes, answers requests from records the test prepares, and fires out-events on a
/// thread of its own.
class FakeEngine final
{
public:
    struct Call
    {
        bool isRequest = false;
        uint32_t id = 0;
        QByteArray bytes; ///< as the client sent them
    };
    using Answer = std::function<uint32_t(QByteArray &record)>;

    static FakeEngine &instance();

    void reset();
    /// Request `id` gets `record` copied over the caller's record, and the result `result`.
    void setAnswer(uint32_t id, const QByteArray &record, uint32_t result = 0);
    void setAnswer(uint32_t id, Answer answer);
    void setEventResult(uint32_t id, bool result);

    QList<Call> calls() const;
    QList<Call> calls(uint32_t id) const;
    QList<uint32_t> ids() const;

    /// Calls the registered out-event callback on another thread and waits for it.
    void fire(uint32_t event, const QByteArray &record = {});

    // Used by the C functions.
    uint32_t onRequest(uint32_t id, void *record, uint32_t size);
    bool onEvent(uint32_t id, const void *record, uint32_t size);
    void setCallback(ConfClientOutEventCallback callback, void *userData);
    /// The texts of the last log parameters handed over (reset() keeps them).
    void setLogParams(const ConfClientLogParams *log);
    QByteArrayList logParams() const;

private:
    mutable QMutex m_mutex;
    QList<Call> m_calls;
    QMap<uint32_t, Answer> m_answers;
    QMap<uint32_t, bool> m_eventResults;
    ConfClientOutEventCallback m_callback = nullptr;
    void *m_userData = nullptr;
    QByteArrayList m_logParams;
};
