#pragma once

#include <QString>

#include <optional>

/// Reads a password or a PIN for the account commands: one line of standard input when it is
/// not a terminal (a script's pipe), otherwise asked twice on the terminal without echo. Never
/// from the command line, where every user of the machine could read it.
class SecretPrompt final
{
public:
    /// `noun` ("password", "PIN") of `owner` (a user or room name) for the prompt and the
    /// errors; null with `error` set when nothing was read or the two answers differ.
    static std::optional<QString> read(const QString &noun, const QString &owner, QString *error);

private:
    static std::optional<QString> readLine();
    static std::optional<QString> ask(const QString &prompt);
};
