#include "platform/twain/helper_protocol.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace vantrel::twain::helper {

namespace {

constexpr std::size_t kHeadBytes = 8; // u32 kind, u32 number

template <class T>
void append(std::vector<std::uint8_t>& out, T v) {
    const auto at = out.size();
    out.resize(at + sizeof v);
    std::memcpy(out.data() + at, &v, sizeof v);
}

} // namespace

MessageWriter& MessageWriter::u8(std::uint8_t v) {
    out_.push_back(v);
    return *this;
}
MessageWriter& MessageWriter::u32(std::uint32_t v) {
    append(out_, v);
    return *this;
}
MessageWriter& MessageWriter::u64(std::uint64_t v) {
    append(out_, v);
    return *this;
}
MessageWriter& MessageWriter::f64(double v) {
    append(out_, v);
    return *this;
}
MessageWriter& MessageWriter::text(std::string_view v) {
    u32(static_cast<std::uint32_t>(v.size()));
    return bytes(v.data(), v.size());
}
MessageWriter& MessageWriter::bytes(const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    out_.insert(out_.end(), p, p + size);
    return *this;
}

const std::uint8_t* MessageReader::take(std::size_t n) {
    if (!ok_ || n > size_ - at_) {
        ok_ = false;
        return nullptr;
    }
    const std::uint8_t* p = data_ + at_;
    at_ += n;
    return p;
}

std::uint8_t MessageReader::u8() {
    const std::uint8_t* p = take(1);
    return p ? *p : 0;
}
std::uint32_t MessageReader::u32() {
    std::uint32_t v = 0;
    bytes(&v, sizeof v);
    return v;
}
std::uint64_t MessageReader::u64() {
    std::uint64_t v = 0;
    bytes(&v, sizeof v);
    return v;
}
double MessageReader::f64() {
    double v = 0;
    bytes(&v, sizeof v);
    return v;
}
std::string MessageReader::text() {
    const std::uint32_t n = u32();
    const std::uint8_t* p = take(n);
    return p ? std::string(reinterpret_cast<const char*>(p), n) : std::string();
}
bool MessageReader::bytes(void* out, std::size_t size) {
    const std::uint8_t* p = take(size);
    if (p) {
        std::memcpy(out, p, size);
    }
    return p != nullptr;
}

bool sendMessage(int socket, const Message& message, bool mayWait) {
    std::uint8_t head[kHeadBytes];
    const auto kind = static_cast<std::uint32_t>(message.kind);
    std::memcpy(head, &kind, 4);
    std::memcpy(head + 4, &message.number, 4);
    iovec parts[2] = {{head, kHeadBytes},
                      {const_cast<std::uint8_t*>(message.payload.data()), message.payload.size()}};
    msghdr header{};
    header.msg_iov = parts;
    header.msg_iovlen = message.payload.empty() ? 1 : 2;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    if (message.fd >= 0) {
        header.msg_control = control;
        header.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&header);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(c), &message.fd, sizeof(int));
    }
    ssize_t sent;
    do {
        sent = ::sendmsg(socket, &header, MSG_NOSIGNAL | (mayWait ? 0 : MSG_DONTWAIT));
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(kHeadBytes + message.payload.size());
}

std::optional<Message> receiveMessage(int socket) {
    // The packet's length first (it stays queued), so the buffer fits the message.
    ssize_t length;
    do {
        length = ::recv(socket, nullptr, 0, MSG_PEEK | MSG_TRUNC);
    } while (length < 0 && errno == EINTR);
    if (length <= 0) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> buffer(
        std::min(static_cast<std::size_t>(length), kHeadBytes + kMaxMessageBytes));
    iovec part{buffer.data(), buffer.size()};
    msghdr header{};
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    ssize_t got;
    do {
        got = ::recvmsg(socket, &header, MSG_CMSG_CLOEXEC);
    } while (got < 0 && errno == EINTR);
    Message message;
    for (cmsghdr* c = CMSG_FIRSTHDR(&header); c; c = CMSG_NXTHDR(&header, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS &&
            c->cmsg_len == CMSG_LEN(sizeof(int))) {
            std::memcpy(&message.fd, CMSG_DATA(c), sizeof(int));
        }
    }
    const bool whole = got >= static_cast<ssize_t>(kHeadBytes) &&
                       (header.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) == 0;
    if (!whole) {
        if (message.fd >= 0) {
            ::close(message.fd);
        }
        return std::nullopt;
    }
    std::uint32_t kind = 0;
    std::memcpy(&kind, buffer.data(), 4);
    std::memcpy(&message.number, buffer.data() + 4, 4);
    message.kind = static_cast<Kind>(kind);
    message.payload.assign(buffer.begin() + kHeadBytes, buffer.begin() + got);
    return message;
}

} // namespace vantrel::twain::helper
