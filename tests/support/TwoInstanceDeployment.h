#pragma once

#include "services/ServiceDatabase.h"
#include "tests/support/OutsideRelay.h"
#include "tests/support/PostgresServer.h"
#include "tests/support/ServicesProcess.h"
#include "tests/support/TlsFront.h"

#include <array>
#include <memory>

/// The deployment past one machine, as the tests start it: one PostgreSQL, two relays run on
/// their own, two instances of orvale-services sharing the database and the relays, and the
/// TLS front balancing over both instances, its name their public one. Each piece runs on an
/// address of its own, through a launcher when given (a network lab host's): side by side on
/// loopback, or on hosts of their own. The instances sign their people in with the demo
/// company; the test reads the shared database over PostgreSQL's Unix socket.
class TwoInstanceDeployment final
{
public:
    /// Where a piece runs: its address, and the launcher put in front of its programs.
    struct Place
    {
        QString address;
        QStringList launcher;
    };
    struct Layout
    {
        Place database;
        std::array<Place, 2> relays;
        std::array<Place, 2> instances;
        Place front;
        TlsFront::Ports frontPorts; ///< front, tlsLogin and janus; web and portal unused
    };

    explicit TwoInstanceDeployment(const Layout &layout);
    ~TwoInstanceDeployment();

    /// Starts every piece; false (and why) when one did not come up.
    bool start(QString *error);

    ServicesProcess &instance(int i) { return *m_instances.at(i); }
    OutsideRelay &relay(int i) { return *m_relays.at(i); }
    TlsFront &front() { return *m_front; }
    ServiceDatabase &database() { return m_db; }
    /// The certificate the front shows (instance 1's), for clients to trust.
    QString certificate() const;
    /// The relay the conference is placed on (0 or 1), -1: none.
    int relayOf(qint64 conference) const;
    QString presence(qint64 entityId) const;
    /// Kills instance `i` at once, as a machine that dies.
    bool killInstance(int i);

private:
    bool startRelays(QString *error, QStringList *entries);
    bool startInstances(const QStringList &relayEntries, QString *error);
    bool startFront(QString *error);

    Layout m_layout;
    PostgresServer m_postgres;
    ServiceDatabase m_db;
    std::array<std::unique_ptr<OutsideRelay>, 2> m_relays;
    std::array<std::unique_ptr<ServicesProcess>, 2> m_instances;
    std::unique_ptr<TlsFront> m_front;
};
