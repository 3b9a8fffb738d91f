#pragma once
// Carries the streaming worker's reports to the command's own thread through a pipe: the
// worker writes each report whole and never waits (a full pipe drops it), and the command
// waits on the read end together with its signals. Also the wake-up a signal handler
// writes. Private to the library.

#include <poll.h>

#include <cstddef>

#include "document/documentobserver.h"

class StatusPipe : public DocumentObserver {
public:
    StatusPipe();
    ~StatusPipe() override;
    StatusPipe(const StatusPipe&) = delete;
    StatusPipe& operator=(const StatusPipe&) = delete;

    bool Ok() const { return m_read >= 0; }
    // The worker's side: one report, written whole or not at all.
    void OnStreamingStatus(const StreamingStatus& status) override;
    // The command's side: the next report, waiting at most timeoutMs (-1: no limit) and
    // returning early, false, when `wake` becomes readable (a signal arrived) or the time is
    // up.
    bool Next(StreamingStatus& status, int wake, int timeoutMs);
    // The same, waiting on `others` too (at most kMaxOthers; negative descriptors are left
    // out) and filling in their revents: a report may come with them, or not.
    static constexpr size_t kMaxOthers = 4;
    bool Next(StreamingStatus& status, pollfd* others, size_t count, int timeoutMs);

private:
    int m_read = -1;
    int m_write = -1;
};
