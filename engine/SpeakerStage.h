#pragma once

#include <QString>
#include <QStringList>

/// Who is speaking in the call, as the relay reports it, and who has the stage when nobody is
/// pinned: a participant who starts speaking takes it, and keeps it while speaking and for a
/// hold time after taking it and after falling silent, so that the stage does not flicker
/// between two people talking in turn. Times are a steady clock's milliseconds, given by the
/// caller.
class SpeakerStage final
{
public:
    static constexpr qint64 holdMs = 2000;
    /// The steady clock the engine gives the times of.
    static qint64 clockMs();

    void setSpeaking(const QString &uri, bool speaking, qint64 now);
    /// Nobody speaks and nobody is staged, as at the start of a call.
    void clear();
    bool isSpeaking(const QString &uri) const { return m_speaking.contains(uri); }
    /// Those speaking, the latest to start first.
    QStringList speaking() const { return m_speaking; }
    /// The participant on the stage at `now`: `pinned` when someone is; else the staged speaker
    /// while held, then the latest to start speaking. Never `self`: nobody needs to watch
    /// themselves large. Empty until someone else has spoken.
    QString staged(qint64 now, const QString &pinned, const QString &self);
    /// `everyone` in the order they get the places on screen when not all fit: `kept` first (in
    /// its order), then the latest to start speaking, then those who have not spoken, in their
    /// order.
    QStringList byPriority(const QStringList &everyone, const QStringList &kept) const;

private:
    QStringList m_speaking;
    QStringList m_spoken; ///< all who have spoken in the call, the latest to start first
    QString m_stage;
    qint64 m_heldUntil = 0;
};
