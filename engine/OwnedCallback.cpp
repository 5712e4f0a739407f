#include "engine/OwnedCallback.h"

#include <QMutexLocker>

OwnedCallback::OwnedCallback(std::function<void()> call)
    : m_target(std::make_shared<Target>())
{
    m_target->call = std::move(call);
}

OwnedCallback::~OwnedCallback()
{
    revoke();
}

std::function<void()> OwnedCallback::function() const
{
    return Call{m_target};
}

bool OwnedCallback::handedOut(const std::function<void()> &function) const
{
    const Call *call = function.target<Call>();
    return call && call->target == m_target;
}

void OwnedCallback::revoke()
{
    QMutexLocker lock(&m_target->lock);
    m_target->call = nullptr;
}

void OwnedCallback::Call::operator()() const
{
    QMutexLocker lock(&target->lock);
    if (target->call)
        target->call();
}
