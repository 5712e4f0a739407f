#include "ui/widgets/AppShell.h"

namespace {

AppShell *current = nullptr;

} // namespace

AppShell *AppShell::shared()
{
    return current;
}

void AppShell::setShared(AppShell *shell)
{
    current = shell;
}
