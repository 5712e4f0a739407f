#pragma once

#include <QString>

/// Loopback address `n` (1 and up) of this test program's own, given by orvale_add_test: servers
/// on the standard login ports bind there, so that test programs run side by side.
inline QString testHost(int n = 1)
{
    return QStringLiteral(ORVALE_TEST_NET ".%1").arg(n);
}
