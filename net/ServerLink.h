#pragma once

#include <QString>
#include <QUrl>

/// Links the company's servers hand the client (the administration page, a download, the
/// company's site, an introduction video) open in the desktop's browser only when they are web
/// addresses: a "file:", "javascript:", "data:" or custom-scheme link would have the desktop run
/// or show something on this machine that the server chose.
class ServerLink final
{
public:
    /// `text`, blanks around it aside, when it is an http or https address with a host; empty
    /// otherwise.
    static QUrl browsable(const QString &text);
    /// Opens `url` in the desktop's browser when it is an http or https address with a host;
    /// otherwise opens nothing and logs why. False when nothing opened.
    static bool open(const QUrl &url);
    static bool open(const QString &text);
};
