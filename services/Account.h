#pragma once

#include <QString>

/// A sign-in account and the options the login service hands out with it.
struct Account
{
    QString userName;
    qint64 entityID = 0;
    QString coId;
    int userRole = 0;
    int play = 0;
    int version = 3;
    int period = 48;
    bool disabled = false; ///< kept, but refused at sign-in and on every request
};
