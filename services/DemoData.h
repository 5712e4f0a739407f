#pragma once

class ServiceDatabase;

/// The demo company: accounts, members in every presence state, rooms with and without PIN,
/// a full room, contacts and two broadcasts.
class DemoData final
{
public:
    static bool load(ServiceDatabase &db);
    /// Keeps the demo broadcasts where they were relative to the present: one running, one
    /// coming.
    static void keepBroadcastsCurrent(ServiceDatabase &db);
};
