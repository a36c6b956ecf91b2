#pragma once
// The messages between the source manager and its scanner helper process (the only process that
// loads libsane). They travel over a SOCK_SEQPACKET socketpair, one message per packet: a fixed
// head (kind, request number) and a payload of little fields written with MessageWriter and read
// back with MessageReader. A page travels as a memfd passed along with its message, never through
// the socket itself.
//
// The helper answers every request with a message of the same number; messages it sends on its
// own (a scan's page and end) carry number 0. The first exchange is Hello / Hello with the
// protocol version: either side refuses any other version.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel::twain::helper {

inline constexpr std::uint32_t kProtocolVersion = 1;

// The helper's executable, installed beside the source manager library.
inline constexpr const char* kHelperFileName = "vantrel-sane-helper";

// Largest packet either side sends (an option table of a scanner with many options fits easily).
inline constexpr std::size_t kMaxMessageBytes = 1 << 20;

enum class Kind : std::uint32_t {
    Hello = 1,   // both ways: u32 version
    ListDevices, // -> ; <- u32 count, then per device: name, vendor, model, type (strings)
    Open,        // -> name; <- i32 SANE status, then the option table when it is good
    Close,       // -> ; <- (empty)
    SetOption,   // -> name, u8 isText, f64 number, text; <- u8 SetResult, option table
    Start,       // -> ; <- i32 SANE status of the start (the page follows as Page/ScanEnded)
    Cancel,      // -> ; no answer (the scan ends with ScanEnded)
    Ping,        // -> ; <- Pong
    Pong,        // <-
    Page,        // <- (number 0) image info bytes, u64 handle bytes; the memfd attached
    ScanEnded,   // <- (number 0) u8 ScanResult, i32 SANE status
    Quit,        // -> ; the helper closes the device and exits
};

// How a scan ended (ScanEnded).
enum class ScanResult : std::uint8_t { Page = 0, Failed = 1, Cancelled = 2 };

struct Message {
    Kind kind = Kind::Hello;
    std::uint32_t number = 0;
    std::vector<std::uint8_t> payload;
    int fd = -1; // a descriptor that came with the message; the receiver owns it
};

class MessageWriter {
public:
    MessageWriter& u8(std::uint8_t v);
    MessageWriter& u32(std::uint32_t v);
    MessageWriter& i32(std::int32_t v) { return u32(static_cast<std::uint32_t>(v)); }
    MessageWriter& u64(std::uint64_t v);
    MessageWriter& f64(double v);
    MessageWriter& text(std::string_view v);
    MessageWriter& bytes(const void* data, std::size_t size);
    std::vector<std::uint8_t> take() { return std::move(out_); }

private:
    std::vector<std::uint8_t> out_;
};

// Reads fields in the order they were written. A read past the end, or a text longer than what
// is left, fails the reader: every later read returns nothing and ok() is false.
class MessageReader {
public:
    explicit MessageReader(const std::vector<std::uint8_t>& payload)
        : data_(payload.data())
        , size_(payload.size()) {}
    std::uint8_t u8();
    std::uint32_t u32();
    std::int32_t i32() { return static_cast<std::int32_t>(u32()); }
    std::uint64_t u64();
    double f64();
    std::string text();
    bool bytes(void* out, std::size_t size);
    bool ok() const { return ok_; }
    bool atEnd() const { return ok_ && at_ == size_; }

private:
    const std::uint8_t* take(std::size_t n);
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
    bool ok_ = true;
};

// Sends one message (with `message.fd` attached when it is not -1). False when the peer is gone,
// or, with `mayWait` false, when the socket is full (a peer that stopped reading).
bool sendMessage(int socket, const Message& message, bool mayWait = true);
// Receives one message; nothing when the peer is gone or sent something that is not a message.
// Interrupted calls are repeated.
std::optional<Message> receiveMessage(int socket);

} // namespace vantrel::twain::helper
