#pragma once
// The source manager's end of its scanner helper process: starts the helper (the executable
// beside this library), says Hello, sends requests and waits for their answers with a limit, and
// hands everything else the helper sends (pages, scan ends, late answers) to `onEvent` on its
// reading thread. A helper that crashes or is killed is noticed there at once (`onLost`); one that
// stops answering is killed by the watchdog when a ping goes unanswered for kUnresponsive while
// watching() is on, or when a deadline set with killAt() passes.

#include "platform/twain/helper_protocol.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

namespace vantrel::twain {

class HelperLink {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kUnresponsive{2000};
    static constexpr std::chrono::milliseconds kPingInterval{500};

    HelperLink(std::function<void(helper::Message&&)> onEvent, std::function<void()> onLost);
    ~HelperLink();
    HelperLink(const HelperLink&) = delete;
    HelperLink& operator=(const HelperLink&) = delete;

    // The helper beside the library that holds this code ($VANTREL_SANE_HELPER overrides it).
    static std::filesystem::path helperPath();

    // Starts a helper unless one runs; false when it cannot be started or does not say Hello.
    bool start();
    bool running() const { return running_.load(); }
    // Counts the helpers started so far: a new number means a new process with nothing open.
    std::uint64_t generation() const { return generation_.load(); }
    pid_t pid() const { return pid_.load(); }

    // Sends a request; its number, or 0 when the helper is gone.
    std::uint32_t send(helper::Kind kind, std::vector<std::uint8_t> payload = {});
    // Sends a request and waits up to `limit` for its answer. Nothing on time-out (the answer,
    // should it come later, goes to onEvent) or when the helper is gone.
    std::optional<helper::Message> request(helper::Kind kind, std::vector<std::uint8_t> payload,
                                           std::chrono::milliseconds limit);

    // Pings the helper while on, and kills it when a ping goes unanswered for kUnresponsive.
    void setWatching(bool on);
    // Kills the helper if it is still running at `when` (none: no deadline).
    void killAt(std::optional<Clock::time_point> when);

    // Asks the helper to quit and waits up to `grace` for it to go, then kills it.
    void stop(std::chrono::milliseconds grace);
    // Ends the helper at once (SIGKILL) and waits for it.
    void kill();

private:
    void readLoop(int socket);
    void watchLoop();
    void reap();

    std::function<void(helper::Message&&)> onEvent_;
    std::function<void()> onLost_;

    std::mutex mutex_; // everything below
    std::condition_variable changed_;
    int socket_ = -1;
    std::atomic<pid_t> pid_{-1};
    std::atomic<bool> running_{false};
    std::atomic<std::uint64_t> generation_{0};
    std::uint32_t next_ = 0;
    std::map<std::uint32_t, std::optional<helper::Message>> waiting_;
    std::thread reader_;
    std::thread watchdog_;
    bool watching_ = false;
    bool closing_ = false;
    std::optional<Clock::time_point> deadline_;
    Clock::time_point lastPong_{};
};

} // namespace vantrel::twain
