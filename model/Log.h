#pragma once

#include <QLoggingCategory>

// The client's one logging category; messages are the fixed texts of each subsystem.
Q_DECLARE_LOGGING_CATEGORY(lcOrvale)
