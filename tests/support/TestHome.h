#pragma once

#include <QString>

/// The test program's home. HOME and the XDG folders point at one temporary folder from before
/// main() until the program ends (TestProgramHome.cpp, linked into every test), so that the
/// paths Qt caches at first use, the settings file's among them, are the test's and never the
/// user's. Making a TestHome empties that folder, settings included: the test holding it starts
/// from a fresh state.
class TestHome final
{
public:
    TestHome();

    /// The home folder.
    static QString path();
    /// Points HOME and the XDG folders at a new temporary folder; runs once, before main().
    static void install();
    /// Removes every setting and every file under the home, leaving its empty folders.
    static void clear();
};
