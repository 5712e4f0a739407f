#include "engine/media/MediaRetry.h"

#include <algorithm>

namespace {

constexpr int firstWaitMs = 500;
constexpr int steadyMs = 10000;

} // namespace

MediaRetry::MediaRetry(QObject *parent)
    : QObject(parent)
{
    m_wait.setSingleShot(true);
    connect(&m_wait, &QTimer::timeout, this, [this] {
        if (const auto again = std::exchange(m_again, {}))
            again();
    });
    m_steady.setSingleShot(true);
    m_steady.setInterval(steadyMs);
    connect(&m_steady, &QTimer::timeout, this, [this] { m_failures = 0; });
}

void MediaRetry::schedule(std::function<void()> again)
{
    m_steady.stop();
    // Doubled up to the longest wait; the shift stops growing long before it could overflow.
    const int doublings = std::min(m_failures, 16);
    m_wait.start(int(std::min<qint64>(longestWaitMs, qint64(firstWaitMs) << doublings)));
    ++m_failures;
    m_again = std::move(again);
}

void MediaRetry::retryNow()
{
    m_failures = 0; // what failed while the network was away says nothing about it now
    if (!m_wait.isActive())
        return;
    m_wait.stop();
    if (const auto again = std::exchange(m_again, {}))
        again();
}

void MediaRetry::succeeded()
{
    m_steady.start();
}

void MediaRetry::cancel()
{
    m_wait.stop();
    m_steady.stop();
    m_again = {};
    m_failures = 0;
}
