#pragma once
// Our TWAIN 1.x source manager and its data sources over SANE: every SANE device is one source.
// It keeps the TWAIN state machine (2 loaded, 3 manager open, 4 source open, 5 enabled, 6 transfer
// ready, 7 transferring); a call out of sequence fails with TWCC_SEQERROR and changes nothing.
//
// Scanning runs on a thread of its own after MSG_ENABLEDS. When the page is ready the thread posts
// kSourceMessage to the parent window (the VantrelMessageTarget given with MSG_OPENDSM); the
// application hands that message back with MSG_PROCESSEVENT and learns MSG_XFERREADY, or
// MSG_CLOSEDSREQ when the scan failed or was cancelled. DSM_Entry calls are serialised.

#include "platform/twain/sane_device.h"
#include "platform/twain/twain.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vantrel::twain {

class SourceManager {
public:
    // The private window message of our sources: wParam the scan's number, lParam the TWAIN
    // message (MSG_XFERREADY or MSG_CLOSEDSREQ).
    static constexpr std::uint32_t kSourceMessage = 0x8000 + 0x54;

    static SourceManager& instance();
    ~SourceManager();

    TW_UINT16 entry(pTW_IDENTITY origin, pTW_IDENTITY destination, TW_UINT32 group, TW_UINT16 dat,
                    TW_UINT16 message, TW_MEMREF data);

private:
    struct Device {
        std::string name; // SANE device name
        TW_IDENTITY identity{};
    };

    TW_UINT16 fail(TW_UINT16 condition, bool forSource);
    TW_UINT16 managerCall(pTW_IDENTITY origin, TW_UINT16 dat, TW_UINT16 message, TW_MEMREF data);
    TW_UINT16 sourceCall(pTW_IDENTITY destination, TW_UINT32 group, TW_UINT16 dat,
                         TW_UINT16 message, TW_MEMREF data);
    TW_UINT16 identityCall(TW_UINT16 message, TW_IDENTITY* identity);
    TW_UINT16 openSource(TW_IDENTITY* identity);
    TW_UINT16 capability(TW_UINT16 message, TW_CAPABILITY* cap);
    TW_UINT16 getCapability(TW_CAPABILITY* cap);
    TW_UINT16 setCapability(TW_CAPABILITY* cap);
    TW_UINT16 imageLayout(TW_UINT16 message, TW_IMAGELAYOUT* layout);
    TW_UINT16 processEvent(TW_EVENT* event);
    void listDevices();
    const Device* defaultDevice() const;
    void startScan();
    void stopScan();
    void dropPage();
    void closeEverything();

    std::mutex mutex_;
    int state_ = 2;
    bool saneReady_ = false;
    TW_UINT16 managerCondition_ = TWCC_SUCCESS;
    TW_UINT16 sourceCondition_ = TWCC_SUCCESS;
    VantrelMessageTarget* parent_ = nullptr;
    std::vector<Device> devices_;
    bool listed_ = false;
    std::map<std::string, TW_UINT32> ids_; // stable Ids by device name
    std::size_t next_ = 0;
    std::unique_ptr<SaneDevice> device_;
    TW_IDENTITY openIdentity_{};

    std::thread scanner_;
    std::atomic<bool> cancel_{false};
    std::atomic<ScanStage> stage_{ScanStage::Finishing};
    std::uintptr_t scanNumber_ = 0;
    ScanOutcome outcome_; // written by the scan thread, read after it is joined
    TW_HANDLE page_ = nullptr;
    TW_IMAGEINFO pageInfo_{};
};

} // namespace vantrel::twain
