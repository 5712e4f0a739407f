#pragma once

#include <QList>
#include <QObject>

#include <initializer_list>
#include <memory>

class QSocketNotifier;

/// Turns SIGTERM, SIGINT and SIGHUP into a signal on the main thread: the handler only writes
/// the number into a socket pair, which the event loop reads.
class UnixSignalWatcher final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(UnixSignalWatcher)

public:
    /// One watcher per process: the handlers are the process's.
    explicit UnixSignalWatcher(std::initializer_list<int> numbers, QObject *parent = nullptr);
    ~UnixSignalWatcher() override;

Q_SIGNALS:
    void signalReceived(int signal);

private:
    void readPending();

    std::unique_ptr<QSocketNotifier> m_notifier;
    QList<int> m_signals;
};
