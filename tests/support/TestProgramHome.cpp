#include "tests/support/TestHome.h"

namespace {

// Linked into every test program, so the home is in place before main() creates the
// application and before anything asks Qt for a standard path.
const bool installed = (TestHome::install(), true);

} // namespace
