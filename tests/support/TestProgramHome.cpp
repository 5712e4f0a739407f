#include "tests/support/TestHome.h"

#include <QtGlobal>

namespace {

// Linked into every test program, so the home is in place before main() creates the
// application and before anything asks Qt for a standard path.
const bool installed = (TestHome::install(), true);

// The client's modules are found beside the engine's library; a program with the fake engine
// in its place finds them where the build puts them.
const bool modulesFound = qEnvironmentVariableIsSet("ORVALE_MODULE_DIR") ||
                          qputenv("ORVALE_MODULE_DIR", ORVALE_PRIVATE_LIBRARY_DIR);

} // namespace
