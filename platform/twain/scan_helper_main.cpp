// The scanner helper process: the only process of the program that loads libsane and its
// backends, which are third-party code (some of them closed binaries). The source manager starts
// it with one end of a socketpair as descriptor 3 and talks to it in the messages of
// helper_protocol.h. If a backend crashes, hangs or deadlocks, only this process is lost: the
// source manager notices, ends the acquisition and starts a new helper when it is next needed.
//
// Two threads: this one reads the socket and answers Ping and Cancel at once, even while a SANE
// call blocks; the worker makes every SANE call, one request after another, in the order they came.
// A page is assembled in the helper's own memory and written into a memfd that travels with its
// message (page_transfer.h).

#include "platform/twain/helper_protocol.h"
#include "platform/twain/page_transfer.h"
#include "platform/twain/sane_device.h"
#include "platform/twain/twain_handle.h"

#include <sane/sane.h>

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace vantrel::twain::helper {
namespace {

constexpr int kSocket = 3;

class Helper {
public:
    int run();

private:
    void work();
    void handle(const Message& request);
    void reply(const Message& request, Kind kind, std::vector<std::uint8_t> payload = {},
               int fd = -1);
    void send(const Message& message);
    void listDevices(const Message& request);
    void open(const Message& request);
    void setOption(const Message& request);
    void scan(const Message& request);
    void cancelScan(std::uint32_t upTo);
    void closeDevice();

    std::mutex sendMutex_;
    std::mutex queueMutex_;
    std::condition_variable queued_;
    std::deque<Message> queue_;
    bool quitting_ = false;
    std::atomic<bool> workerDone_{false};
    bool saneReady_ = false;

    // The scan, as far as the reading thread needs it (Cancel). Cancel names the last Start it
    // cancels, so a Cancel that overtakes its Start in the worker's queue still counts.
    std::mutex deviceMutex_; // sane_cancel from the reading thread against sane_close
    std::atomic<bool> cancel_{false};
    std::atomic<bool> scanning_{false};
    std::atomic<std::uint32_t> cancelledUpTo_{0};
    std::atomic<std::uint32_t> scanNumber_{0}; // the Start being served
    std::unique_ptr<SaneDevice> device_;
    PageAssemblyBuffer pageBuffer_; // the scan thread's alone, as is pageFile_
    PageFile pageFile_;
};

int Helper::run() {
    std::thread worker([this] { work(); });
    bool hello = false;
    while (auto message = receiveMessage(kSocket)) {
        if (message->fd >= 0) {
            ::close(message->fd); // requests never carry descriptors
            message->fd = -1;
        }
        if (!hello) {
            MessageReader in(message->payload);
            const std::uint32_t version = in.u32();
            if (message->kind != Kind::Hello || version != kProtocolVersion) {
                break;
            }
            hello = true;
            reply(*message, Kind::Hello, MessageWriter().u32(kProtocolVersion).take());
            continue;
        }
        if (message->kind == Kind::Ping) {
            reply(*message, Kind::Pong);
            continue;
        }
        if (message->kind == Kind::Cancel) {
            cancelScan(MessageReader(message->payload).u32());
            continue;
        }
        const bool quit = message->kind == Kind::Quit;
        {
            std::lock_guard lock(queueMutex_);
            queue_.push_back(std::move(*message));
        }
        queued_.notify_one();
        if (quit) {
            break;
        }
    }
    // The program is gone or asked us to quit: end a running scan and let the worker close the
    // device. A backend that does not let go is not waited for long.
    cancelScan(UINT32_MAX);
    {
        std::lock_guard lock(queueMutex_);
        quitting_ = true;
    }
    queued_.notify_one();
    for (int i = 0; i < 200 && !workerDone_.load(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // Neither sane_exit nor the worker's destructor: both could wait on a backend for ever.
    _exit(0);
}

void Helper::work() {
    bool served = false;
    bool pageMemoryPrepared = false;
    for (;;) {
        Message request;
        {
            std::unique_lock lock(queueMutex_);
            // Once the first request (the device list) is answered and nothing waits, the page
            // memory is made ready for the first scan, which would otherwise pay for it.
            if (served && !pageMemoryPrepared && queue_.empty() && !quitting_) {
                pageMemoryPrepared = true;
                lock.unlock();
                pageBuffer_.prepare(kPreparedPageBytes);
                pageFile_.prepare(kPreparedPageBytes);
                continue;
            }
            queued_.wait(lock, [this] { return quitting_ || !queue_.empty(); });
            if (queue_.empty()) {
                break;
            }
            request = std::move(queue_.front());
            queue_.pop_front();
        }
        if (request.kind == Kind::Quit) {
            break;
        }
        handle(request);
        served = true;
    }
    closeDevice();
    workerDone_ = true;
}

void Helper::handle(const Message& request) {
    if (!saneReady_) {
        SANE_Int version = 0;
        saneReady_ = sane_init(&version, nullptr) == SANE_STATUS_GOOD;
    }
    switch (request.kind) {
    case Kind::ListDevices:
        listDevices(request);
        return;
    case Kind::Open:
        open(request);
        return;
    case Kind::Close:
        closeDevice();
        reply(request, Kind::Close);
        return;
    case Kind::SetOption:
        setOption(request);
        return;
    case Kind::Start:
        scan(request);
        return;
    default:
        return; // nothing else is a request for the worker
    }
}

void Helper::send(const Message& message) {
    std::lock_guard lock(sendMutex_);
    sendMessage(kSocket, message);
}

void Helper::reply(const Message& request, Kind kind, std::vector<std::uint8_t> payload, int fd) {
    Message answer;
    answer.kind = kind;
    answer.number = request.number;
    answer.payload = std::move(payload);
    answer.fd = fd;
    send(answer);
}

void Helper::listDevices(const Message& request) {
    const SANE_Device** list = nullptr;
    MessageWriter out;
    if (!saneReady_ || sane_get_devices(&list, SANE_FALSE) != SANE_STATUS_GOOD || !list) {
        reply(request, Kind::ListDevices, out.u32(0).take());
        return;
    }
    std::uint32_t count = 0;
    while (list[count]) {
        ++count;
    }
    out.u32(count);
    const auto field = [](const char* s) { return std::string_view(s ? s : ""); };
    for (std::uint32_t i = 0; i < count; ++i) {
        out.text(field(list[i]->name))
            .text(field(list[i]->vendor))
            .text(field(list[i]->model))
            .text(field(list[i]->type));
    }
    reply(request, Kind::ListDevices, out.take());
}

void Helper::open(const Message& request) {
    MessageReader in(request.payload);
    const std::string name = in.text();
    closeDevice();
    SANE_Handle handle = nullptr;
    SANE_Status status = saneReady_ ? sane_open(name.c_str(), &handle) : SANE_STATUS_INVAL;
    if (status == SANE_STATUS_GOOD && !handle) {
        status = SANE_STATUS_INVAL;
    }
    MessageWriter out;
    out.i32(status);
    if (status == SANE_STATUS_GOOD) {
        std::lock_guard lock(deviceMutex_);
        device_ = std::make_unique<SaneDevice>(handle);
        device_->table().write(out);
    }
    reply(request, Kind::Open, out.take());
}

void Helper::setOption(const Message& request) {
    MessageReader in(request.payload);
    const OptionValue value = OptionValue::read(in);
    MessageWriter out;
    if (!device_ || !in.ok()) {
        out.u8(static_cast<std::uint8_t>(SetResult::Refused));
        OptionTable().write(out);
    } else {
        const SetResult result = value.isText
                                     ? device_->setText(value.name.c_str(), value.text)
                                     : device_->setNumber(value.name.c_str(), value.number);
        out.u8(static_cast<std::uint8_t>(result));
        device_->table().write(out);
    }
    reply(request, Kind::SetOption, out.take());
}

void Helper::scan(const Message& request) {
    if (!device_) {
        reply(request, Kind::Start, MessageWriter().i32(SANE_STATUS_INVAL).take());
        return;
    }
    scanNumber_ = request.number;
    cancel_ = cancelledUpTo_.load() >= request.number;
    scanning_ = true;
    reply(request, Kind::Start, MessageWriter().i32(SANE_STATUS_GOOD).take());
    ScanOutcome outcome = readPage(*device_, cancel_, [this](std::size_t size, bool zeroFill) {
        return pageBuffer_.allocate(size, zeroFill);
    });
    if (outcome.status == ScanOutcome::Status::Page) {
        // The page goes first: a backend that then hangs in sane_cancel has lost nothing.
        const std::size_t size = twHandleSize(outcome.dib);
        const int fd = pageFile_.write(twHandleLock(outcome.dib), size);
        twHandleUnlock(outcome.dib);
        twHandleFree(outcome.dib); // borrowed: the buffer stays for the next page
        outcome.dib = nullptr;
        if (fd < 0) {
            outcome.status = ScanOutcome::Status::Failed; // no memory left for the memfd
            outcome.sane = SANE_STATUS_NO_MEM;
        } else {
            Message message;
            message.kind = Kind::Page;
            message.payload =
                MessageWriter().bytes(&outcome.info, sizeof outcome.info).u64(size).take();
            message.fd = fd; // passed as a copy of the descriptor
            send(message);
        }
    }
    {
        std::lock_guard lock(deviceMutex_);
        sane_cancel(device_->handle());
    }
    scanning_ = false;
    Message ended;
    ended.kind = Kind::ScanEnded;
    const ScanResult result = outcome.status == ScanOutcome::Status::Page ? ScanResult::Page
                              : outcome.status == ScanOutcome::Status::Cancelled
                                  ? ScanResult::Cancelled
                                  : ScanResult::Failed;
    ended.payload = MessageWriter().u8(static_cast<std::uint8_t>(result)).i32(outcome.sane).take();
    send(ended);
}

void Helper::cancelScan(std::uint32_t upTo) {
    std::uint32_t seen = cancelledUpTo_.load();
    while (seen < upTo && !cancelledUpTo_.compare_exchange_weak(seen, upTo)) {
    }
    if (!scanning_.load() || scanNumber_.load() > upTo) {
        return; // a Start still queued sees cancelledUpTo_
    }
    cancel_ = true;
    // A read that waits on the scanner only returns when the backend is told to stop. Readers
    // that see data stop at the flag; give them that chance before waking the backend.
    for (int i = 0; i < 20 && scanning_.load(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::unique_lock lock(deviceMutex_, std::try_to_lock);
    if (lock.owns_lock() && scanning_.load() && device_) {
        sane_cancel(device_->handle());
    }
}

void Helper::closeDevice() {
    std::lock_guard lock(deviceMutex_);
    if (device_) {
        sane_close(device_->handle());
        device_.reset();
    }
}

} // namespace
} // namespace vantrel::twain::helper

int main() {
    // No parent-death signal: it follows the thread that started us, and the program starts
    // the helper from whichever thread first needs it. The program's end closes the socket,
    // which ends the helper whatever its SANE call is doing.
    if (fcntl(3, F_GETFD) < 0) {
        return 2; // started by hand: there is no program to serve
    }
    signal(SIGPIPE, SIG_IGN);
    static vantrel::twain::helper::Helper helper;
    return helper.run();
}
