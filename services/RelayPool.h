#pragma once

#include "services/JanusSupervisor.h"
#include "services/RelaySettings.h"

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QSet>

#include <memory>
#include <vector>

class ServiceDatabase;

/// The relays that carry the calls' audio and video: the deployment's own Janus and any run
/// elsewhere. A conference is placed on one relay when it starts, the one with the fewest
/// participants, and everyone in it goes there; the database records the placement, so that
/// every instance of the deployment sharing it sends the conference's people to the same
/// relay. A relay that stops answering gets no new conference, and those on it are placed
/// again on another: moved() tells who must hear of the new room.
class RelayPool final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RelayPool)

public:
    using Answer = JanusSupervisor::Answer;

    explicit RelayPool(ServiceDatabase &db, QObject *parent = nullptr);
    ~RelayPool() override;

    /// A relay owned elsewhere (the deployment's own Janus), started already.
    void add(JanusSupervisor *relay);
    /// A Janus run elsewhere, asked from now on; it is this pool's.
    JanusSupervisor *addRemote(const RelaySettings &settings, const QString &dataDir);
    QList<JanusSupervisor *> relays() const { return m_relays; }
    /// The relay the conference is on, as this instance knows it; null: none.
    JanusSupervisor *relayOf(qint64 conference) const;

    // As JanusSupervisor's, on the conference's relay.
    void admit(qint64 conference, const QString &tag, int seats, Answer answer);
    QJsonObject feedsOf(qint64 conference, const QString &tag) const;
    bool evict(qint64 conference, const QString &tag, qint64 id);
    void release(qint64 conference, const QString &tag, bool lastOne);
    /// This instance was taken for stopped, and its participants no longer counted at their
    /// relays: they are counted there again.
    void countAgain();
    /// A token for the relay the conference is on; empty when it is on none.
    QString relayToken(qint64 conference) const;
    int relayTokenLifetimeS() const;

Q_SIGNALS:
    /// The conference is on another relay now, or on none: its participants are admitted again.
    void moved(qint64 conference);

private:
    struct Placement
    {
        JanusSupervisor *relay = nullptr; ///< null: on none, placed again at the next admission
        QSet<QString> tags;               ///< counted in the database's participants
    };
    /// The relay the database names for the conference, placing it when it names none usable.
    JanusSupervisor *place(qint64 conference);
    /// The answering relay with the fewest participants; null when none answers.
    JanusSupervisor *leastLoaded() const;
    JanusSupervisor *named(const QString &name) const;
    static QString nameOf(const JanusSupervisor *relay);
    /// Moves the conferences of a relay that stopped answering, or stopped `forGood`.
    void relayDown(JanusSupervisor *relay, bool forGood);
    /// Places the conferences left without a relay on one that answers again.
    void placeStranded();
    /// The conference leaves `from` for `relay`; its participants hear of it.
    void moveTo(qint64 conference, JanusSupervisor *from, JanusSupervisor *relay);

    ServiceDatabase &m_db;
    QList<JanusSupervisor *> m_relays;
    std::vector<std::unique_ptr<JanusSupervisor>> m_owned;
    QHash<qint64, Placement> m_placed;
};
