#pragma once
// The TWAIN conversation of the scanner component: the source manager's entry, the application
// identity, the chosen source, the flags that mirror the TWAIN states, the last error text, the
// table of at most 10 sources and the last page. Every operation goes through call(), which asks
// for DAT_STATUS after a failure and turns a fault inside the manager into a failure.
//
// States: no library 1; library loaded 2; manager open 3; source open 4; source enabled 5; inside
// the transfer loop 6/7. Single GUI thread; the transfer loop runs from the control's window
// procedure and may nest through the page handler.

#include "devices/manager_library.h"
#include "devices/page_copy.h"
#include "platform/twain/twain.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vantrel::devices {

// How an acquisition ended; reported once per acquisition that Acquire started.
struct AcquisitionEnd {
    enum class Reason {
        Completed,      // the source's last pending transfer was done
        Cancelled,      // the last transfer was cancelled (TWRC_CANCEL)
        Failed,         // the last transfer failed, or the image information could not be read
        ClosedBySource, // MSG_CLOSEDSREQ / MSG_CLOSEDSOK (a scan error, or the user closed it)
        Abandoned,      // the program chose another source while this one was enabled
    };
    Reason reason = Reason::Completed;
    int pages = 0; // pages delivered through PictureAcquired during the acquisition
    // What the scanner said about an acquisition it closed (ClosedBySource).
    enum class Fault {
        None,
        Cancelled,   // cancelled at the device
        NoPaper,     // the feeder or the glass holds no document
        PaperJam,    // the paper jammed
        CoverOpen,   // the cover or a door is open
        DeviceError, // any other failure of the device
        DriverLost, // the driver crashed, hung or stopped answering; the next scan starts it afresh
    };
    Fault fault = Fault::None;
};

class TwainSession {
public:
    static constexpr int kMaxSources = 10;

    // `sendPictureReady` delivers the page buffer synchronously (the control's picture-ready
    // message); `acquisitionEnded` receives the end reports.
    TwainSession(std::unique_ptr<ManagerLibrary> library, std::function<void()> sendPictureReady,
                 std::function<void(const AcquisitionEnd&)> acquisitionEnded);
    ~TwainSession();
    TwainSession(const TwainSession&) = delete;
    TwainSession& operator=(const TwainSession&) = delete;

    bool initialize(VantrelMessageTarget* parentWindow);
    int selectSource(bool useDefault, int index);
    bool acquire(bool showUserInterface);
    // Closes the source and the manager and unloads the library (state 1).
    void shutdown();

    int sourceCount() const { return sourceCount_; }
    std::string sourceName() const;
    int sourceIndex() const;
    const std::string& lastError() const { return errorText_; }
    const TW_STATUS& status() const { return status_; }
    const TW_IDENTITY& sourceTableEntry(int index) const { return sourceTable_.at(index); }
    int twainState() const;

    std::optional<std::int32_t> readCapability(TW_UINT16 capability);
    bool writeCapability(TW_UINT16 capability, TW_UINT16 itemType, std::int32_t value);
    void clearError() { errorText_.clear(); }
    void setError(std::string_view text) { errorText_ = text; }

    enum class Edge { Top, Bottom, Left, Right };
    double readFrameEdge(Edge edge);
    bool writeFrameEdge(Edge edge, float value);

    // A message that reached the control's window: offered to the enabled source, and acted on
    // when the source claims it.
    void forwardMessage(VantrelMessageTarget* window, std::uint32_t message, std::uintptr_t wParam,
                        std::intptr_t lParam);

    // The page buffer, handed over to the caller (the page buffer is empty afterwards).
    std::optional<PageCopy> takePage();

private:
    TW_UINT16 call(pTW_IDENTITY destination, TW_UINT32 group, TW_UINT16 dat, TW_UINT16 message,
                   TW_MEMREF data);
    TW_UINT16 callSource(TW_UINT32 group, TW_UINT16 dat, TW_UINT16 message, TW_MEMREF data) {
        return call(&sourceIdentity_, group, dat, message, data);
    }
    void enumerateSources();
    bool openSource();
    void closeSource();
    void transferLoop();
    void report(AcquisitionEnd::Reason reason, int pages,
                AcquisitionEnd::Fault fault = AcquisitionEnd::Fault::None);

    std::unique_ptr<ManagerLibrary> library_;
    std::function<void()> sendPictureReady_;
    std::function<void(const AcquisitionEnd&)> acquisitionEnded_;

    DSMENTRYPROC entry_ = nullptr;
    TW_IDENTITY appIdentity_{};
    TW_IDENTITY sourceIdentity_{};
    TW_STATUS status_{};
    bool libraryLoaded_ = false;
    VantrelMessageTarget* parentWindow_ = nullptr;
    bool managerOpen_ = false;
    bool sourceSelected_ = false;
    bool sourceEnabled_ = false;
    bool sourceOpen_ = false;
    std::string errorText_;
    int sourceCount_ = 0;
    std::array<TW_IDENTITY, kMaxSources> sourceTable_{};
    std::optional<PageCopy> page_;
    int transferDepth_ = 0;

    // The acquisition that the last successful Acquire started.
    int acquisitionSerial_ = 0;
    int acquisitionPages_ = 0;
    bool acquisitionOpen_ = false;
};

} // namespace vantrel::devices
