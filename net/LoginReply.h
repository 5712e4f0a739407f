#pragma once

#include <QString>
#include <QVariantMap>

/// What the company login service said of a sign-in attempt.
struct LoginReply
{
    enum class Outcome {
        NoResult, ///< no usable user record: the attempt ends without further action
        Refused,  ///< msgType 2: `message` is shown to the user
        Accepted, ///< go on with the conferencing sign-in at `portalAddress`
    };

    Outcome outcome = Outcome::NoResult;
    QString message;
    QString portalAddress;
    QVariantMap record; ///< the user record, stored into the user once signed in
};
