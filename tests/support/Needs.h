#pragma once

#include <QString>
#include <QTest>

/// Skips the test function when `reason` names something missing from this machine; in the
/// full run (scripts/test), which installs everything, a missing piece fails it instead.
#define ORVALE_NEEDS(reason)                                                                       \
    do {                                                                                           \
        const QString missing_ = (reason);                                                         \
        if (!missing_.isEmpty()) {                                                                 \
            if (qEnvironmentVariableIsSet("ORVALE_FULL_RUN"))                                      \
                QFAIL(qPrintable(missing_));                                                       \
            QSKIP(qPrintable(missing_));                                                           \
        }                                                                                          \
    } while (false)
