#pragma once
// Threads a SANE backend starts during a scan. Backends built on SANE's thread helper (the test
// backend among them) produce each frame on a reader thread and end it with an asynchronous
// pthread_cancel, either once the frame's last byte has been read or when the scan is cancelled.
// A thread cancelled while it holds a malloc lock leaves that lock held for ever, and the next
// thread that needs it (the next scan's reader, or the program itself) hangs. The scan therefore
// lets the backend's threads finish, or fall asleep, before it makes the call that cancels them.

#include <chrono>
#include <sys/types.h>
#include <vector>

namespace vantrel::twain {

class BackendThreads {
public:
    // Notes the threads that exist now; any other thread counts as started by the backend.
    BackendThreads();

    // True when every thread started since has ended.
    bool ended() const;
    // True when every thread started since has ended or sleeps (where an asynchronous cancel
    // leaves no lock held). A thread blocked on a pipe does not count: the backend closes the
    // pipe before it cancels, and that sets the thread running again.
    bool settled() const;
    // Waits until settled(), for at most `limit`; false when the limit ran out.
    bool waitUntilSettled(std::chrono::milliseconds limit) const;

private:
    std::vector<pid_t> before_;
};

} // namespace vantrel::twain
