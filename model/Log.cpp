#include "model/Log.h"

Q_LOGGING_CATEGORY(lcOrvale, "orvale")
