#include "tests/ui/FakeKeychain.h"

#include <QTimer>

FakeKeychain::FakeKeychain()
{
    PasswordStore::setBackend(this);
}

FakeKeychain::~FakeKeychain()
{
    PasswordStore::setBackend(nullptr);
}

void FakeKeychain::read(std::function<void(const QString &)> done)
{
    ++pending;
    QTimer::singleShot(answerAfterMs, this, [this, done] {
        --pending;
        if (beforeAnswer)
            beforeAnswer();
        ++readsAnswered;
        done(failing ? QString() : stored);
    });
}

void FakeKeychain::write(const QString &password, std::function<void(bool)> done)
{
    ++pending;
    QTimer::singleShot(answerAfterMs, this, [this, password, done] {
        --pending;
        if (!failing)
            stored = password;
        done(!failing);
    });
}
