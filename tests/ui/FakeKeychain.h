#pragma once

#include "model/PasswordStore.h"

#include <QObject>
#include <QString>

#include <functional>

/// An in-memory keychain whose answers come after a delay a test sets, or fail on request.
class FakeKeychain final : public QObject, public PasswordStore::Backend
{
    Q_OBJECT

public:
    FakeKeychain();
    ~FakeKeychain() override;

    void read(std::function<void(const QString &)> done) override;
    void write(const QString &password, std::function<void(bool)> done) override;

    QString stored;
    int answerAfterMs = 0;
    bool failing = false;
    int readsAnswered = 0;
    /// Reads and writes not answered yet.
    int pending = 0;
    /// Runs just before a read is answered, to look at the state the answer finds.
    std::function<void()> beforeAnswer;
};
