#pragma once
// SIGINT and SIGTERM while a command runs: the handler raises a flag and writes a byte to a
// pipe the command polls with its other descriptors. The former handlers come back after.
// One at a time in a process. Private to the library.

#include <csignal>

class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // The read end of the wake-up pipe; -1 when it could not be made.
    int WakeFd() const { return m_wakeRead; }
    static bool Requested();

private:
    int m_wakeRead = -1;
    int m_wakeWrite = -1;
    struct sigaction m_oldInt {};
    struct sigaction m_oldTerm {};
};
