#pragma once

/// Pushes the user configuration to the engine (`ClientSyncRequestSetConfiguration`) away from
/// the main thread: the engine may take a while to reopen a device. Pushes run one at a time, in
/// the order asked, so that an earlier choice never overtakes a later one; a push still waiting
/// covers those asked after it, since it reads the stored choices when it runs.
class ConfigurationPusher final
{
public:
    ConfigurationPusher() = delete;

    static void push();
    /// Waits until every push asked so far has reached the engine; false after `msecs`.
    static bool waitForDone(int msecs);
};
