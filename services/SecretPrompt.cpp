#include "services/SecretPrompt.h"

#include <cstdio>
#include <iostream>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

/// Turns the terminal's echo off for its lifetime.
class EchoOff final
{
public:
    EchoOff()
    {
        m_saved = ::tcgetattr(STDIN_FILENO, &m_before) == 0;
        termios quiet = m_before;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        if (m_saved)
            ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    ~EchoOff()
    {
        if (m_saved)
            ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &m_before);
        std::fputs("\n", stderr); // the Enter that was not echoed
    }
    EchoOff(const EchoOff &) = delete;
    EchoOff &operator=(const EchoOff &) = delete;

private:
    termios m_before{};
    bool m_saved = false;
};

} // namespace

std::optional<QString> SecretPrompt::read(const QString &noun, const QString &owner, QString *error)
{
    if (!::isatty(STDIN_FILENO)) {
        const auto line = readLine();
        if (!line || line->isEmpty())
            *error = QStringLiteral("no %1 on standard input").arg(noun);
        return line && !line->isEmpty() ? line : std::nullopt;
    }
    const auto first = ask(QStringLiteral("New %1 for %2: ").arg(noun, owner));
    const auto second = first ? ask(QStringLiteral("Again: ")) : std::nullopt;
    if (!first || !second) {
        *error = QStringLiteral("no %1 given").arg(noun);
        return std::nullopt;
    }
    if (*first != *second) {
        *error = QStringLiteral("the two %1s differ").arg(noun);
        return std::nullopt;
    }
    return first;
}

std::optional<QString> SecretPrompt::readLine()
{
    std::string line;
    if (!std::getline(std::cin, line) && line.empty())
        return std::nullopt;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return QString::fromStdString(line);
}

std::optional<QString> SecretPrompt::ask(const QString &prompt)
{
    std::fputs(qPrintable(prompt), stderr);
    std::fflush(stderr);
    const EchoOff quiet;
    return readLine();
}
