#pragma once

#include <QMutex>

#include <functional>
#include <memory>

/// A callback that an object hands to the engine state for other threads to call, and takes back
/// as it goes. Callers copy the function the state holds and call it later, with no lock held, so
/// a copy may be called after its owner went: once `revoke` has returned, every copy does
/// nothing, and `revoke` waits for a call under way on another thread to return first. The
/// call must not wait for the owner's thread.
class OwnedCallback final
{
public:
    explicit OwnedCallback(std::function<void()> call);
    ~OwnedCallback();
    OwnedCallback(const OwnedCallback &) = delete;
    OwnedCallback &operator=(const OwnedCallback &) = delete;

    /// What to put into the state: calls through until revoked. Any thread.
    std::function<void()> function() const;
    /// Whether `function` is one that this object handed out.
    bool handedOut(const std::function<void()> &function) const;
    void revoke();

private:
    struct Target
    {
        QMutex lock; ///< held while calling, so that revoking waits for the call
        std::function<void()> call;
    };
    struct Call
    {
        std::shared_ptr<Target> target;
        void operator()() const;
    };

    std::shared_ptr<Target> m_target;
};
