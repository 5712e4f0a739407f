#include "net/ServerLink.h"

#include "model/Log.h"

#include <QDesktopServices>

namespace {

bool isWebAddress(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == u"http" || scheme == u"https") && !url.host().isEmpty();
}

} // namespace

QUrl ServerLink::browsable(const QString &text)
{
    const QUrl url(text.trimmed());
    return isWebAddress(url) ? url : QUrl();
}

bool ServerLink::open(const QUrl &url)
{
    if (!isWebAddress(url)) {
        // Only the scheme: the rest of a refused link may carry anything.
        qCWarning(lcOrvale).noquote()
            << QStringLiteral("link from the server not opened: not an http or https address "
                              "(scheme \"%1\")")
                   .arg(url.scheme().left(32));
        return false;
    }
    return QDesktopServices::openUrl(url);
}

bool ServerLink::open(const QString &text)
{
    return open(QUrl(text.trimmed()));
}
