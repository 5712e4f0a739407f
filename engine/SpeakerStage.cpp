#include "engine/SpeakerStage.h"

#include <QSet>

#include <algorithm>
#include <chrono>

qint64 SpeakerStage::clockMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void SpeakerStage::setSpeaking(const QString &uri, bool speaking, qint64 now)
{
    m_speaking.removeAll(uri);
    if (speaking) {
        m_speaking.prepend(uri);
        m_spoken.removeAll(uri);
        m_spoken.prepend(uri);
    } else if (uri == m_stage)
        m_heldUntil = std::max(m_heldUntil, now + holdMs);
}

void SpeakerStage::clear()
{
    m_speaking.clear();
    m_spoken.clear();
    m_stage.clear();
    m_heldUntil = 0;
}

QString SpeakerStage::staged(qint64 now, const QString &pinned, const QString &self)
{
    if (!pinned.isEmpty())
        return pinned;
    const bool held = !m_stage.isEmpty() && (m_speaking.contains(m_stage) || now < m_heldUntil);
    if (held)
        return m_stage;
    for (const QString &uri : std::as_const(m_speaking)) {
        if (uri != self) {
            m_stage = uri;
            m_heldUntil = now + holdMs;
            break;
        }
    }
    return m_stage;
}

QStringList SpeakerStage::byPriority(const QStringList &everyone, const QStringList &kept) const
{
    // Sets: the renderer asks for every picture drawn, and a large call has many participants.
    QSet<QString> left(everyone.cbegin(), everyone.cend());
    QStringList order;
    order.reserve(left.size());
    const auto take = [&order, &left](const QStringList &from) {
        for (const QString &uri : from)
            if (left.remove(uri))
                order.append(uri);
    };
    take(kept);
    take(m_spoken);
    take(everyone);
    return order;
}
