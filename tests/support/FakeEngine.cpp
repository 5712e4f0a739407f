#include "tests/support/FakeEngine.h"

#include <QMutexLocker>

#include <cstring>
#include <thread>

FakeEngine &FakeEngine::instance()
{
    static FakeEngine engine;
    return engine;
}

void FakeEngine::reset()
{
    QMutexLocker lock(&m_mutex);
    m_calls.clear();
    m_answers.clear();
    m_eventResults.clear();
}

void FakeEngine::setAnswer(uint32_t id, const QByteArray &record, uint32_t result)
{
    setAnswer(id, [record, result](QByteArray &target) {
        std::memcpy(target.data(), record.constData(), std::min(record.size(), target.size()));
        return result;
    });
}

void FakeEngine::setAnswer(uint32_t id, Answer answer)
{
    QMutexLocker lock(&m_mutex);
    m_answers.insert(id, std::move(answer));
}

void FakeEngine::setEventResult(uint32_t id, bool result)
{
    QMutexLocker lock(&m_mutex);
    m_eventResults.insert(id, result);
}

QList<FakeEngine::Call> FakeEngine::calls() const
{
    QMutexLocker lock(&m_mutex);
    return m_calls;
}

QList<FakeEngine::Call> FakeEngine::calls(uint32_t id) const
{
    QList<Call> matching;
    for (const Call &call : calls()) {
        if (call.id == id)
            matching.append(call);
    }
    return matching;
}

QList<uint32_t> FakeEngine::ids() const
{
    QList<uint32_t> list;
    for (const Call &call : calls())
        list.append(call.id);
    return list;
}

void FakeEngine::fire(uint32_t event, const QByteArray &record)
{
    ConfClientOutEventCallback callback;
    void *userData;
    {
        QMutexLocker lock(&m_mutex);
        callback = m_callback;
        userData = m_userData;
    }
    if (!callback)
        return;
    QByteArray bytes = record;
    std::thread([&] {
        callback(event, bytes.isEmpty() ? nullptr : bytes.data(), uint32_t(bytes.size()), userData);
    }).join();
}

uint32_t FakeEngine::onRequest(uint32_t id, void *record, uint32_t size)
{
    Answer answer;
    {
        QMutexLocker lock(&m_mutex);
        m_calls.append({true, id, QByteArray(static_cast<const char *>(record), size)});
        answer = m_answers.value(id);
    }
    if (!answer)
        return 0;
    QByteArray buffer(static_cast<const char *>(record), size);
    const uint32_t result = answer(buffer);
    std::memcpy(record, buffer.constData(), size);
    return result;
}

bool FakeEngine::onEvent(uint32_t id, const void *record, uint32_t size)
{
    QMutexLocker lock(&m_mutex);
    m_calls.append(
        {false, id, record ? QByteArray(static_cast<const char *>(record), size) : QByteArray()});
    return m_eventResults.value(id, true);
}

void FakeEngine::setLogParams(const ConfClientLogParams *log)
{
    QMutexLocker lock(&m_mutex);
    m_logParams.clear();
    if (!log)
        return;
    for (const char *text : {log->filter, log->pathPrefix, log->filePrefix})
        m_logParams.append(text ? QByteArray(text) : QByteArray());
}

QByteArrayList FakeEngine::logParams() const
{
    QMutexLocker lock(&m_mutex);
    return m_logParams;
}

void FakeEngine::setCallback(ConfClientOutEventCallback callback, void *userData)
{
    QMutexLocker lock(&m_mutex);
    m_callback = callback;
    m_userData = userData;
}

extern "C" {

bool ConfClientConsoleLogConfigure(int)
{
    return true;
}

bool ConfClientInitialize(ConfClientOutEventCallback callback, void *userData,
                          const ConfClientLogParams *log)
{
    FakeEngine::instance().setCallback(callback, userData);
    FakeEngine::instance().setLogParams(log);
    return true;
}

bool ConfClientStart(ConfClientOutEventCallback callback, void *userData,
                     const ConfClientLogParams *, void *, const ConfClientRect *, void *,
                     const uint8_t[80], int)
{
    FakeEngine::instance().setCallback(callback, userData);
    return true;
}

uint32_t ConfClientSendRequest(uint32_t id, void *record, uint32_t size)
{
    return FakeEngine::instance().onRequest(id, record, size);
}

bool ConfClientSendEvent(uint32_t id, void *record, uint32_t size)
{
    return FakeEngine::instance().onEvent(id, record, size);
}

} // extern "C"
