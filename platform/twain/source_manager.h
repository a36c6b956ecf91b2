#pragma once
// Our TWAIN 1.x source manager and its data sources over SANE: every SANE device is one source.
// It keeps the TWAIN state machine (2 loaded, 3 manager open, 4 source open, 5 enabled, 6 transfer
// ready, 7 transferring); a call out of sequence fails with TWCC_SEQERROR and changes nothing.
//
// libsane runs in a helper process of ours (scan_helper_main.cpp), started at MSG_OPENDSM and
// again whenever it is needed after a crash; opening a source only names it to the helper, and
// capability reads are answered from the option table the helper sends, so no call waits on a
// device for longer than kAnswerLimit (the device list itself is read on the caller's thread).
//
// Scanning runs on a thread of its own after MSG_ENABLEDS. When the page is ready the thread posts
// kSourceMessage to the parent window (the VantrelMessageTarget given with MSG_OPENDSM); the
// application hands that message back with MSG_PROCESSEVENT and learns MSG_XFERREADY, or
// MSG_CLOSEDSREQ when the scan failed or was cancelled. DSM_Entry calls are serialised.

#include "platform/twain/helper_link.h"
#include "platform/twain/option_table.h"
#include "platform/twain/twain.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vantrel::twain {

// What one scan produced, as the source manager saw it.
struct ReceivedScan {
    enum class Status { Page, Failed, Cancelled } status = Status::Failed;
    TW_HANDLE dib = nullptr; // owned by the receiver when status is Page
    TW_IMAGEINFO info{};
    bool helperLost = false; // the scanner helper crashed, hung or stopped answering
    // Why a scan without a page ended, as reported through DAT_STATUS.
    TW_UINT16 condition = TWCC_OPERATIONERROR;
};

class SourceManager {
public:
    // The private window message of our sources: wParam the scan's number, lParam the TWAIN
    // message (MSG_XFERREADY or MSG_CLOSEDSREQ).
    static constexpr std::uint32_t kSourceMessage = 0x8000 + 0x54;
    // The longest a call from the program waits for the helper before it answers from what it
    // knows: the window must keep repainting.
    static constexpr std::chrono::milliseconds kAnswerLimit{100};
    // A cancelled scan, or a helper's clean-up after a page, that takes longer ends the helper.
    static constexpr std::chrono::milliseconds kCancelLimit{2000};

    static SourceManager& instance();
    ~SourceManager();

    TW_UINT16 entry(pTW_IDENTITY origin, pTW_IDENTITY destination, TW_UINT32 group, TW_UINT16 dat,
                    TW_UINT16 message, TW_MEMREF data);

    // The running helper's process id, or -1 (tests stop and kill it).
    pid_t helperPid() const { return link_ ? link_->pid() : -1; }

private:
    struct Device {
        std::string name; // SANE device name
        TW_IDENTITY identity{};
    };

    SourceManager();
    TW_UINT16 fail(TW_UINT16 condition, bool forSource);
    TW_UINT16 managerCall(pTW_IDENTITY origin, TW_UINT16 dat, TW_UINT16 message, TW_MEMREF data);
    TW_UINT16 sourceCall(pTW_IDENTITY destination, TW_UINT32 group, TW_UINT16 dat,
                         TW_UINT16 message, TW_MEMREF data);
    TW_UINT16 identityCall(TW_UINT16 message, TW_IDENTITY* identity);
    TW_UINT16 openSource(TW_IDENTITY* identity);
    TW_UINT16 capability(TW_UINT16 message, TW_CAPABILITY* cap);
    TW_UINT16 getCapability(TW_CAPABILITY* cap);
    TW_UINT16 setCapability(TW_UINT16 capId, const TW_ONEVALUE& one,
                            std::chrono::milliseconds limit);
    TW_UINT16 imageLayout(TW_UINT16 message, TW_IMAGELAYOUT* layout);
    TW_UINT16 processEvent(TW_EVENT* event);
    void listDevices();
    const Device* defaultDevice() const;
    void startScan();
    void stopScan();
    void dropPage();
    void closeEverything();
    void closeSource();

    // The helper conversation.
    bool ensureHelper();
    // Has the helper open the chosen source (once per helper); false when there is no helper.
    bool requireOpen();
    void sendOpen();
    void onHelperEvent(helper::Message&& message);
    void onHelperLost();
    // The open device's options, waiting up to `limit` for them to arrive; null when unknown.
    const OptionTable* table(std::chrono::milliseconds limit);
    SetResult setOption(const OptionValue& value, std::chrono::milliseconds limit);
    ReceivedScan runScan();
    ReceivedScan adoptPage(const helper::Message& page);

    std::mutex mutex_; // DSM_Entry calls
    int state_ = 2;
    TW_UINT16 managerCondition_ = TWCC_SUCCESS;
    TW_UINT16 sourceCondition_ = TWCC_SUCCESS;
    VantrelMessageTarget* parent_ = nullptr;
    std::vector<Device> devices_;
    bool listed_ = false;
    std::map<std::string, TW_UINT32> ids_; // stable Ids by device name
    std::size_t next_ = 0;
    TW_IDENTITY openIdentity_{};
    std::string openName_;             // the open source's SANE device name
    std::uint64_t openedIn_ = 0;       // the helper generation asked to open it, 0 for none
    std::vector<OptionValue> applied_; // since the open, in order
    std::vector<std::pair<TW_UINT16, TW_ONEVALUE>> deferred_; // set before the options came

    // What the helper sends on its own; guarded by eventMutex_ (the helper's reading thread
    // never takes mutex_, so a DSM_Entry call may wait for it).
    std::mutex eventMutex_;
    std::condition_variable eventChanged_;
    std::uint32_t openRequest_ = 0;
    std::optional<OptionTable> table_;
    bool openFailed_ = false;
    std::deque<helper::Message> events_; // scan messages: Start answers, Page, ScanEnded
    std::uint64_t helperLosses_ = 0;

    std::mutex helperMutex_; // starting a helper (the scan thread may need a new one too)
    std::unique_ptr<HelperLink> link_;
    std::thread scanner_;
    std::atomic<bool> cancel_{false};
    std::uintptr_t scanNumber_ = 0;
    ReceivedScan outcome_; // written by the scan thread, read after it is joined
    TW_HANDLE page_ = nullptr;
    TW_IMAGEINFO pageInfo_{};
};

} // namespace vantrel::twain
