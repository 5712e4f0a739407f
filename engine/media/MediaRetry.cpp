#include "engine/media/MediaRetry.h"

#include <algorithm>

namespace {

constexpr int firstWaitMs = 500;
constexpr int longestWaitMs = 8000;
constexpr int tries = 6;
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

bool MediaRetry::schedule(std::function<void()> again)
{
    m_steady.stop();
    if (m_failures >= tries)
        return false;
    m_wait.start(std::min(longestWaitMs, firstWaitMs << m_failures));
    ++m_failures;
    m_again = std::move(again);
    return true;
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
