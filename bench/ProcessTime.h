#pragma once

#include <QtGlobal>

/// Processor time of a running process, for the benchmarks that weigh one process against
/// another.
class ProcessTime final
{
public:
    /// Processor time so far of the threads of `pid` alive now, in seconds: the scheduler's
    /// nanosecond count, since an idle process uses less than the clock ticks of /proc/PID/stat
    /// can show.
    static double seconds(qint64 pid);
};
