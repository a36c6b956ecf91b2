#include "platform/twain/helper_link.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <dlfcn.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace vantrel::twain {

using helper::Kind;
using helper::Message;

namespace {

constexpr std::chrono::milliseconds kHelloLimit{10000};

// Waits for one message for at most `limit`.
std::optional<Message> receiveWithin(int socket, std::chrono::milliseconds limit) {
    pollfd p{socket, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&p, 1, static_cast<int>(limit.count()));
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) {
        return std::nullopt;
    }
    return helper::receiveMessage(socket);
}

} // namespace

HelperLink::HelperLink(std::function<void(Message&&)> onEvent, std::function<void()> onLost)
    : onEvent_(std::move(onEvent))
    , onLost_(std::move(onLost)) {
    watchdog_ = std::thread([this] { watchLoop(); });
}

HelperLink::~HelperLink() {
    stop(std::chrono::milliseconds(1000));
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    changed_.notify_all();
    watchdog_.join();
    if (reader_.joinable()) {
        reader_.join();
    }
}

std::filesystem::path HelperLink::helperPath() {
    if (const char* path = std::getenv("VANTREL_SANE_HELPER"); path && *path) {
        return path;
    }
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&HelperLink::helperPath), &info) == 0 || !info.dli_fname) {
        return helper::kHelperFileName;
    }
    std::error_code error;
    const auto library = std::filesystem::canonical(info.dli_fname, error);
    return (error ? std::filesystem::path(info.dli_fname) : library).parent_path() /
           helper::kHelperFileName;
}

bool HelperLink::start() {
    std::unique_lock lock(mutex_);
    if (running_) {
        return true;
    }
    if (reader_.joinable()) {
        lock.unlock();
        reader_.join(); // the last helper's reader has ended (running_ is false)
        lock.lock();
        if (running_) {
            return true;
        }
    }
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) {
        return false;
    }
    const std::string path = helperPath().string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 3); // dup2 clears close-on-exec
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    pid_t child = -1;
    const int spawned = posix_spawn(&child, path.c_str(), &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(ends[1]);
    if (spawned != 0) {
        ::close(ends[0]);
        return false;
    }
    Message hello;
    hello.kind = Kind::Hello;
    hello.payload = helper::MessageWriter().u32(helper::kProtocolVersion).take();
    std::optional<Message> answer;
    if (helper::sendMessage(ends[0], hello)) {
        answer = receiveWithin(ends[0], kHelloLimit);
    }
    const bool greeted = answer && answer->kind == Kind::Hello &&
                         helper::MessageReader(answer->payload).u32() == helper::kProtocolVersion;
    if (answer && answer->fd >= 0) {
        ::close(answer->fd);
    }
    if (!greeted) {
        ::close(ends[0]);
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        return false;
    }
    socket_ = ends[0];
    pid_ = child;
    ++generation_;
    running_ = true;
    deadline_.reset();
    lastPong_ = Clock::now();
    reader_ = std::thread([this, socket = ends[0]] { readLoop(socket); });
    return true;
}

std::uint32_t HelperLink::send(Kind kind, std::vector<std::uint8_t> payload) {
    std::lock_guard lock(mutex_);
    if (!running_) {
        return 0;
    }
    Message message;
    message.kind = kind;
    message.number = ++next_;
    message.payload = std::move(payload);
    return helper::sendMessage(socket_, message, false) ? message.number : 0;
}

std::optional<Message> HelperLink::request(Kind kind, std::vector<std::uint8_t> payload,
                                           std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    if (!running_) {
        return std::nullopt;
    }
    Message message;
    message.kind = kind;
    message.number = ++next_;
    message.payload = std::move(payload);
    const std::uint32_t number = message.number;
    waiting_[number];
    if (!helper::sendMessage(socket_, message, false)) {
        waiting_.erase(number);
        return std::nullopt;
    }
    changed_.wait_for(lock, limit, [&] { return waiting_[number].has_value() || !running_; });
    std::optional<Message> answer = std::move(waiting_[number]);
    waiting_.erase(number);
    return answer;
}

void HelperLink::readLoop(int socket) {
    while (auto message = helper::receiveMessage(socket)) {
        std::unique_lock lock(mutex_);
        if (message->kind == Kind::Pong) {
            lastPong_ = Clock::now();
            continue;
        }
        if (auto it = waiting_.find(message->number);
            message->number != 0 && it != waiting_.end()) {
            it->second = std::move(*message);
            lock.unlock();
            changed_.notify_all();
            continue;
        }
        lock.unlock();
        onEvent_(std::move(*message));
    }
    // The helper is gone (crashed, killed, or quit): make sure, and collect it.
    pid_t child;
    {
        std::lock_guard lock(mutex_);
        child = pid_;
        running_ = false;
        socket_ = -1;
        pid_ = -1;
        deadline_.reset();
    }
    ::close(socket);
    if (child > 0) {
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    }
    changed_.notify_all();
    onLost_();
}

void HelperLink::setWatching(bool on) {
    {
        std::lock_guard lock(mutex_);
        if (on && !watching_) {
            lastPong_ = Clock::now();
        }
        watching_ = on;
    }
    changed_.notify_all();
}

void HelperLink::killAt(std::optional<Clock::time_point> when) {
    {
        std::lock_guard lock(mutex_);
        deadline_ = when;
    }
    changed_.notify_all();
}

void HelperLink::watchLoop() {
    std::unique_lock lock(mutex_);
    auto lastPing = Clock::now();
    while (!closing_) {
        // Asleep while there is nothing to watch: an idle program wakes no thread.
        changed_.wait(lock, [this] { return closing_ || (running_ && (watching_ || deadline_)); });
        changed_.wait_for(lock, std::chrono::milliseconds(100));
        if (closing_ || !running_) {
            continue;
        }
        const auto now = Clock::now();
        bool unresponsive = deadline_ && now >= *deadline_;
        if (watching_) {
            if (now - lastPing >= kPingInterval) {
                Message ping;
                ping.kind = Kind::Ping;
                ping.number = ++next_;
                helper::sendMessage(socket_, ping, false);
                lastPing = now;
            }
            unresponsive = unresponsive || now - lastPong_ > kUnresponsive;
        }
        if (unresponsive && pid_ > 0) {
            ::kill(pid_, SIGKILL); // the reader sees the socket close and cleans up
            deadline_.reset();
        }
    }
}

void HelperLink::kill() {
    std::unique_lock lock(mutex_);
    if (running_ && pid_ > 0) {
        ::kill(pid_, SIGKILL);
    }
    changed_.wait_for(lock, std::chrono::milliseconds(5000), [this] { return !running_.load(); });
}

void HelperLink::stop(std::chrono::milliseconds grace) {
    send(Kind::Quit);
    {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, grace, [this] { return !running_.load(); });
    }
    kill();
    if (reader_.joinable() && !running_) {
        reader_.join();
    }
}

} // namespace vantrel::twain
