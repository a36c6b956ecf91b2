#pragma once
// Running a piece of a test in a forked child, for faults that must not reach the test process:
// a kill at a random instant, a lowered memory or file-size limit, a private tmpfs that fills up.

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>

namespace vantrel::test {

struct ChildResult {
    bool exited = false; // ended by _exit / return (else by a signal)
    int code = -1;       // exit code when exited
    int signal = 0;      // the signal that ended it otherwise
    std::string describe() const;
};

// Runs `body` in a forked child and waits for it; its return value becomes the exit code. A
// child still running after `timeout` is killed (SIGKILL) and reported with that signal.
ChildResult runInChild(const std::function<int()>& body,
                       std::chrono::milliseconds timeout = std::chrono::seconds(120));

// Starts `body` in a forked child, sends SIGKILL after `delay`, and waits for it.
ChildResult killChildAfter(const std::function<int()>& body, std::chrono::microseconds delay);

// Inside a child only: gives the child a mount namespace of its own and mounts an empty tmpfs of
// `bytes` at `folder`, seen by no other process. False when the system does not allow it (not
// root, no user namespaces): the caller then skips.
bool mountPrivateTmpfs(const std::filesystem::path& folder, std::size_t bytes);

// Whether a forked child can mount a private tmpfs here (tried once, in a child).
bool privateTmpfsAvailable();

// AddressSanitizer reserves terabytes of address space, so an address-space limit (RLIMIT_AS)
// cannot be lowered under it: memory-limit tests run in the release build only.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kAddressSpaceLimitWorks = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kAddressSpaceLimitWorks = false;
#else
inline constexpr bool kAddressSpaceLimitWorks = true;
#endif
#else
inline constexpr bool kAddressSpaceLimitWorks = true;
#endif

// Inside a child only: lowers the address-space limit to `bytes` above what the child already
// uses (read from /proc/self/status, after the heap's free top is given back), so the next
// large allocations fail.
void limitAddressSpaceAboveCurrent(std::size_t bytes);

} // namespace vantrel::test
