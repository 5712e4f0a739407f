#pragma once

#include <QTemporaryDir>

/// Points HOME and the XDG folders at a fresh temporary folder for the test's lifetime, so
/// that no test reads or writes the user's own files.
class TestHome final
{
public:
    TestHome();
    ~TestHome();

    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    QByteArray m_oldHome;
};
