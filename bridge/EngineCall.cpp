#include "bridge/EngineCall.h"

#include "bridge/shared/ConfClient.h"
#include "model/Log.h"

uint32_t EngineCall::request(uint32_t id, QByteArray &record)
{
    const uint32_t code = tryRequest(id, record);
    if (code != 0)
        qCWarning(lcOrvale, "Request %u failed with code %u", id, code);
    return code;
}

uint32_t EngineCall::tryRequest(uint32_t id, QByteArray &record)
{
    return ConfClientSendRequest(id, record.data(), static_cast<uint32_t>(record.size()));
}

bool EngineCall::event(uint32_t id, QByteArray &record)
{
    const bool sent = tryEvent(id, record);
    if (!sent)
        qCWarning(lcOrvale, "In-event %u failed", id);
    return sent;
}

bool EngineCall::event(uint32_t id)
{
    const bool sent = ConfClientSendEvent(id, nullptr, 0);
    if (!sent)
        qCWarning(lcOrvale, "In-event %u failed", id);
    return sent;
}

bool EngineCall::tryEvent(uint32_t id, QByteArray &record)
{
    return ConfClientSendEvent(id, record.data(), static_cast<uint32_t>(record.size()));
}
