#include "platform/twain/source_manager.h"

#include "platform/twain/capability_containers.h"
#include "platform/twain/page_transfer.h"
#include "platform/twain/sane_modes.h"
#include "platform/twain/scan_conditions.h"
#include "platform/twain/source_names.h"
#include "platform/twain/twain_handle.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>
#include <unistd.h>

namespace vantrel::twain {

using helper::Kind;
using helper::Message;
using helper::MessageReader;
using helper::MessageWriter;

namespace {

// How long the device list may take (network backends look for scanners for seconds).
constexpr std::chrono::seconds kListLimit{120};
// How long a scan waits for a device to open, or for a setting made before the open to take.
constexpr std::chrono::seconds kOpenLimit{60};

void setText(TW_STR32& field, const std::string& text) {
    std::memset(field, 0, sizeof field);
    const std::string fitted = fitUtf8(text, kSourceNameBytes);
    std::memcpy(field, fitted.data(), fitted.size());
}

std::string textOf(const TW_STR32& field) {
    return std::string(field, strnlen(field, sizeof field));
}

} // namespace

SourceManager& SourceManager::instance() {
    static SourceManager manager;
    return manager;
}

SourceManager::SourceManager()
    : link_(std::make_unique<HelperLink>([this](Message&& m) { onHelperEvent(std::move(m)); },
                                         [this] { onHelperLost(); })) {}

SourceManager::~SourceManager() {
    // The library is being unloaded: stop a scan still running and let the helper go.
    {
        std::lock_guard lock(mutex_);
        closeEverything();
    }
    link_.reset(); // joins the helper's threads while this object is still whole
}

void SourceManager::closeEverything() {
    stopScan();
    dropPage();
    closeSource();
    link_->stop(std::chrono::milliseconds(1000));
    devices_.clear();
    listed_ = false;
    parent_ = nullptr;
    state_ = 2;
}

void SourceManager::closeSource() {
    if (openedIn_ != 0 && openedIn_ == link_->generation()) {
        link_->send(Kind::Close);
    }
    openedIn_ = 0;
    openName_.clear();
    applied_.clear();
    deferred_.clear();
    std::lock_guard lock(eventMutex_);
    openRequest_ = 0;
    table_.reset();
    openFailed_ = false;
}

TW_UINT16 SourceManager::fail(TW_UINT16 condition, bool forSource) {
    (forSource ? sourceCondition_ : managerCondition_) = condition;
    return TWRC_FAILURE;
}

TW_UINT16 SourceManager::entry(pTW_IDENTITY origin, pTW_IDENTITY destination, TW_UINT32 group,
                               TW_UINT16 dat, TW_UINT16 message, TW_MEMREF data) {
    std::lock_guard lock(mutex_);
    if (!origin) {
        return fail(TWCC_BADPROTOCOL, false);
    }
    if (dat == DAT_STATUS) {
        if (message != MSG_GET || !data || state_ < (destination ? 4 : 2)) {
            return fail(TWCC_SEQERROR, destination != nullptr);
        }
        TW_UINT16& condition = destination ? sourceCondition_ : managerCondition_;
        static_cast<TW_STATUS*>(data)->ConditionCode = condition;
        static_cast<TW_STATUS*>(data)->Reserved = 0;
        condition = TWCC_SUCCESS;
        return TWRC_SUCCESS;
    }
    if (!destination) {
        return group == DG_CONTROL ? managerCall(origin, dat, message, data)
                                   : fail(TWCC_BADPROTOCOL, false);
    }
    return sourceCall(destination, group, dat, message, data);
}

TW_UINT16 SourceManager::managerCall(pTW_IDENTITY origin, TW_UINT16 dat, TW_UINT16 message,
                                     TW_MEMREF data) {
    if (dat == DAT_PARENT) {
        if (message == MSG_OPENDSM) {
            if (state_ != 2) {
                return fail(TWCC_SEQERROR, false);
            }
            if (!data || !*static_cast<VantrelMessageTarget**>(data)) {
                return fail(TWCC_BADVALUE, false);
            }
            if (!ensureHelper()) {
                return fail(TWCC_BUMMER, false);
            }
            parent_ = *static_cast<VantrelMessageTarget**>(data);
            origin->Id = 1; // the one application this manager serves
            state_ = 3;
            return TWRC_SUCCESS;
        }
        if (message == MSG_CLOSEDSM) {
            if (state_ != 3) {
                return fail(TWCC_SEQERROR, false);
            }
            closeEverything();
            return TWRC_SUCCESS;
        }
        return fail(TWCC_BADPROTOCOL, false);
    }
    if (dat == DAT_IDENTITY) {
        if (state_ < 3) {
            return fail(TWCC_SEQERROR, false);
        }
        if (!data) {
            return fail(TWCC_BADVALUE, false);
        }
        return identityCall(message, static_cast<TW_IDENTITY*>(data));
    }
    return fail(TWCC_BADPROTOCOL, false);
}

void SourceManager::listDevices() {
    devices_.clear();
    listed_ = true;
    if (!ensureHelper()) {
        return;
    }
    const auto answer = link_->request(Kind::ListDevices, {}, kListLimit);
    if (!answer) {
        return;
    }
    MessageReader in(answer->payload);
    const std::uint32_t count = in.u32();
    std::set<std::string> taken;
    for (std::uint32_t i = 0; i < count && in.ok(); ++i) {
        const std::string name = in.text();
        const std::string vendor = in.text();
        const std::string model = in.text();
        in.text(); // type
        if (!in.ok()) {
            break;
        }
        Device device;
        device.name = name;
        auto [id, added] = ids_.try_emplace(device.name, static_cast<TW_UINT32>(ids_.size() + 1));
        TW_IDENTITY& identity = device.identity;
        identity.Id = id->second;
        identity.Version.MajorNum = 1;
        identity.Version.Language = 13; // English
        identity.Version.Country = 1;
        setText(identity.Version.Info, device.name);
        identity.ProtocolMajor = 1;
        identity.ProtocolMinor = 9;
        identity.SupportedGroups = DG_CONTROL | DG_IMAGE;
        setText(identity.Manufacturer, vendor);
        setText(identity.ProductFamily, model);
        const std::string product = sourceNameFor(name, model, taken);
        taken.insert(product);
        setText(identity.ProductName, product);
        devices_.push_back(std::move(device));
    }
}

const SourceManager::Device* SourceManager::defaultDevice() const {
    // A real scanner when there is one; SANE's test scanner only on a machine without one.
    for (const Device& d : devices_) {
        if (d.name.rfind("test:", 0) != 0) {
            return &d;
        }
    }
    return devices_.empty() ? nullptr : &devices_.front();
}

TW_UINT16 SourceManager::identityCall(TW_UINT16 message, TW_IDENTITY* identity) {
    switch (message) {
    case MSG_GETFIRST:
        listDevices(); // a fresh look at what is connected
        next_ = 0;
        [[fallthrough]];
    case MSG_GETNEXT:
        if (!listed_) {
            listDevices();
        }
        if (next_ >= devices_.size()) {
            return TWRC_ENDOFLIST;
        }
        *identity = devices_[next_++].identity;
        return TWRC_SUCCESS;
    case MSG_GETDEFAULT:
    case MSG_USERSELECT: {
        // There is no selection dialog without a window system of our own: the user's choice is
        // the default source.
        if (!listed_) {
            listDevices();
        }
        const Device* d = defaultDevice();
        if (!d) {
            return fail(TWCC_NODS, false);
        }
        *identity = d->identity;
        return TWRC_SUCCESS;
    }
    case MSG_OPENDS:
        return openSource(identity);
    case MSG_CLOSEDS:
        if (state_ != 4) {
            return fail(TWCC_SEQERROR, false);
        }
        if (identity->Id != openIdentity_.Id) {
            return fail(TWCC_BADDEST, false);
        }
        closeSource();
        state_ = 3;
        return TWRC_SUCCESS;
    default:
        return fail(TWCC_BADPROTOCOL, false);
    }
}

TW_UINT16 SourceManager::openSource(TW_IDENTITY* identity) {
    if (state_ != 3) {
        return fail(state_ > 3 ? TWCC_MAXCONNECTIONS : TWCC_SEQERROR, false);
    }
    if (!listed_) {
        listDevices();
    }
    const Device* chosen = nullptr;
    for (const Device& d : devices_) {
        if (identity->Id != 0 ? d.identity.Id == identity->Id
                              : textOf(d.identity.ProductName) == textOf(identity->ProductName)) {
            chosen = &d;
        }
    }
    if (!chosen) {
        return fail(TWCC_NODS, false);
    }
    // Only named here: the device is opened when something needs it (its options or a scan),
    // so choosing among sources, as the device list does for every one, costs the devices
    // nothing and never waits for one.
    closeSource();
    openName_ = chosen->name;
    openIdentity_ = chosen->identity;
    *identity = chosen->identity;
    sourceCondition_ = TWCC_SUCCESS;
    state_ = 4;
    return TWRC_SUCCESS;
}

TW_UINT16 SourceManager::sourceCall(pTW_IDENTITY destination, TW_UINT32 group, TW_UINT16 dat,
                                    TW_UINT16 message, TW_MEMREF data) {
    if (state_ < 4) {
        return fail(TWCC_SEQERROR, false);
    }
    if (destination->Id != openIdentity_.Id) {
        return fail(TWCC_BADDEST, false);
    }
    if (!data) {
        return fail(TWCC_BADVALUE, true);
    }
    const auto triplet = [&](TW_UINT32 g, TW_UINT16 d) { return group == g && dat == d; };
    if (triplet(DG_CONTROL, DAT_CAPABILITY)) {
        return capability(message, static_cast<TW_CAPABILITY*>(data));
    }
    if (triplet(DG_IMAGE, DAT_IMAGELAYOUT)) {
        return imageLayout(message, static_cast<TW_IMAGELAYOUT*>(data));
    }
    if (triplet(DG_CONTROL, DAT_EVENT) && message == MSG_PROCESSEVENT) {
        if (state_ < 5) {
            return fail(TWCC_SEQERROR, true);
        }
        return processEvent(static_cast<TW_EVENT*>(data));
    }
    if (triplet(DG_CONTROL, DAT_USERINTERFACE)) {
        if (message == MSG_ENABLEDS) {
            if (state_ != 4) {
                return fail(TWCC_SEQERROR, true);
            }
            state_ = 5;
            startScan();
            return TWRC_SUCCESS;
        }
        if (message == MSG_DISABLEDS) {
            if (state_ != 5) {
                return fail(TWCC_SEQERROR, true);
            }
            stopScan();
            dropPage();
            state_ = 4;
            return TWRC_SUCCESS;
        }
        return fail(TWCC_BADPROTOCOL, true);
    }
    if (triplet(DG_IMAGE, DAT_IMAGEINFO) && message == MSG_GET) {
        if (state_ != 6 && state_ != 7) {
            return fail(TWCC_SEQERROR, true);
        }
        *static_cast<TW_IMAGEINFO*>(data) = pageInfo_;
        return TWRC_SUCCESS;
    }
    if (triplet(DG_IMAGE, DAT_IMAGENATIVEXFER) && message == MSG_GET) {
        if (state_ != 6 || !page_) {
            return fail(TWCC_SEQERROR, true);
        }
        *static_cast<TW_HANDLE*>(data) = page_; // the application owns it now
        page_ = nullptr;
        state_ = 7;
        return TWRC_XFERDONE;
    }
    if (triplet(DG_CONTROL, DAT_PENDINGXFERS)) {
        auto* pending = static_cast<TW_PENDINGXFERS*>(data);
        switch (message) {
        case MSG_GET:
            pending->Count = page_ ? 1 : 0;
            return TWRC_SUCCESS;
        case MSG_ENDXFER:
            if (state_ != 6 && state_ != 7) {
                return fail(TWCC_SEQERROR, true);
            }
            break;
        case MSG_RESET:
            if (state_ != 6) {
                return fail(TWCC_SEQERROR, true);
            }
            break;
        default:
            return fail(TWCC_BADPROTOCOL, true);
        }
        // One page per enable: nothing is pending after it.
        dropPage();
        pending->Count = 0;
        state_ = 5;
        return TWRC_SUCCESS;
    }
    return fail(TWCC_BADPROTOCOL, true);
}

TW_UINT16 SourceManager::processEvent(TW_EVENT* event) {
    event->TWMessage = MSG_NULL;
    const auto* msg = static_cast<const TW_WINDOWMSG*>(event->pEvent);
    if (!msg || msg->message != kSourceMessage || msg->wParam != scanNumber_ || state_ != 5 ||
        !scanner_.joinable()) {
        return TWRC_NOTDSEVENT;
    }
    scanner_.join(); // posting was its last act
    if (outcome_.status == ReceivedScan::Status::Page) {
        page_ = outcome_.dib;
        pageInfo_ = outcome_.info;
        outcome_ = {};
        state_ = 6;
        event->TWMessage = MSG_XFERREADY;
    } else {
        // The reason stays readable through DAT_STATUS.
        sourceCondition_ = outcome_.helperLost ? TWCC_DRIVERLOST : outcome_.condition;
        event->TWMessage = MSG_CLOSEDSREQ;
    }
    return TWRC_DSEVENT;
}

void SourceManager::startScan() {
    stopScan();
    cancel_ = false;
    outcome_ = {};
    const std::uintptr_t number = ++scanNumber_;
    VantrelMessageTarget* parent = parent_;
    scanner_ = std::thread([this, number, parent] {
        outcome_ = runScan();
        const TW_UINT16 message =
            outcome_.status == ReceivedScan::Status::Page ? MSG_XFERREADY : MSG_CLOSEDSREQ;
        parent->post(parent->context, kSourceMessage, number, message);
    });
}

void SourceManager::stopScan() {
    if (!scanner_.joinable()) {
        return;
    }
    {
        std::lock_guard lock(eventMutex_);
        cancel_ = true;
    }
    eventChanged_.notify_all();
    // The scan asks the helper to cancel and ends within kCancelLimit: by then the helper has
    // stopped or been killed.
    scanner_.join();
    twHandleFree(outcome_.dib);
    outcome_ = {};
}

void SourceManager::dropPage() {
    twHandleFree(page_);
    page_ = nullptr;
}

bool SourceManager::ensureHelper() {
    std::lock_guard lock(helperMutex_);
    return link_->start();
}

bool SourceManager::requireOpen() {
    std::lock_guard lock(helperMutex_);
    if (openName_.empty() || !link_->start()) {
        return false;
    }
    if (openedIn_ == link_->generation()) {
        return true;
    }
    // The first need since the source was chosen, or a new helper after a lost one: the source
    // is opened, and brought back to the settings it had.
    openedIn_ = link_->generation();
    sendOpen();
    for (const OptionValue& value : applied_) {
        MessageWriter out;
        value.write(out);
        link_->send(Kind::SetOption, out.take());
    }
    return true;
}

void SourceManager::sendOpen() {
    std::lock_guard lock(eventMutex_);
    table_.reset();
    openFailed_ = false;
    openRequest_ = link_->send(Kind::Open, MessageWriter().text(openName_).take());
    openFailed_ = openRequest_ == 0;
}

void SourceManager::onHelperEvent(Message&& message) {
    std::lock_guard lock(eventMutex_);
    if (message.kind == Kind::Open) {
        if (message.number == openRequest_) {
            MessageReader in(message.payload);
            if (in.i32() == 0) {
                table_ = OptionTable::read(in);
            }
            openFailed_ = !table_;
        }
    } else if (message.kind == Kind::SetOption) {
        // An answer that came after its caller stopped waiting: the device's values now.
        MessageReader in(message.payload);
        in.u8();
        if (auto t = OptionTable::read(in); t && table_) {
            table_ = std::move(t);
        }
    } else if (message.kind == Kind::Start || message.kind == Kind::Page ||
               message.kind == Kind::ScanEnded) {
        events_.push_back(std::move(message));
    } else if (message.fd >= 0) {
        ::close(message.fd);
    }
    eventChanged_.notify_all();
}

void SourceManager::onHelperLost() {
    {
        std::lock_guard lock(eventMutex_);
        ++helperLosses_;
        if (!table_) {
            openFailed_ = true;
        }
        table_.reset(); // a new helper opens the source afresh
    }
    eventChanged_.notify_all();
}

const OptionTable* SourceManager::table(std::chrono::milliseconds limit) {
    if (!requireOpen()) {
        return nullptr;
    }
    std::unique_lock lock(eventMutex_);
    eventChanged_.wait_for(lock, limit, [this] { return table_ || openFailed_; });
    return table_ ? &*table_ : nullptr;
}

SetResult SourceManager::setOption(const OptionValue& value, std::chrono::milliseconds limit) {
    MessageWriter out;
    value.write(out);
    applied_.push_back(value);
    const auto answer = link_->request(Kind::SetOption, out.take(), limit);
    std::lock_guard lock(eventMutex_);
    if (!answer) {
        // Not answered in time: the helper applies it in order before any scan. Until its
        // table comes back, reads show the value asked for.
        if (table_) {
            value.isText ? table_->assume(value.name, value.text)
                         : table_->assume(value.name, value.number);
        }
        return SetResult::Done;
    }
    MessageReader in(answer->payload);
    const auto result = static_cast<SetResult>(std::min<std::uint8_t>(in.u8(), 2));
    if (auto t = OptionTable::read(in); t && table_) {
        table_ = std::move(t);
    }
    if (result == SetResult::Refused) {
        applied_.pop_back();
    }
    return result;
}

ReceivedScan SourceManager::runScan() {
    ReceivedScan failed;
    {
        std::lock_guard lock(eventMutex_);
        events_.clear();
    }
    // While the source is enabled no DSM_Entry call changes the open source or its settings,
    // so this thread reads them without mutex_ (which the caller of stopScan holds).
    // The helper may have been lost since the source was opened: a new one opens it again.
    if (!requireOpen()) {
        failed.helperLost = true;
        return failed;
    }
    std::uint64_t losses = 0; // helpers lost before this scan's own
    {
        std::unique_lock events(eventMutex_);
        losses = helperLosses_;
        eventChanged_.wait_for(events, kOpenLimit,
                               [this] { return table_ || openFailed_ || cancel_.load(); });
        if (!table_) {
            failed.status = cancel_ ? ReceivedScan::Status::Cancelled : failed.status;
            failed.helperLost = helperLosses_ != losses;
            return failed;
        }
    }
    // Settings made while the device was still opening.
    for (const auto& [cap, one] : deferred_) {
        setCapability(cap, one, std::chrono::duration_cast<std::chrono::milliseconds>(kOpenLimit));
    }
    deferred_.clear();
    link_->setWatching(true);
    const std::uint32_t start = link_->send(Kind::Start);
    ReceivedScan outcome;
    outcome.helperLost = start == 0;
    bool cancelSent = false;
    bool ended = start == 0;
    std::unique_lock lock(eventMutex_);
    while (!ended) {
        eventChanged_.wait(lock, [&] {
            return !events_.empty() || helperLosses_ != losses || (cancel_ && !cancelSent);
        });
        if (cancel_ && !cancelSent) {
            cancelSent = true;
            lock.unlock();
            link_->send(Kind::Cancel, MessageWriter().u32(start).take());
            link_->killAt(HelperLink::Clock::now() + kCancelLimit);
            lock.lock();
            continue;
        }
        if (events_.empty()) {
            // The helper is gone: a page it sent before is still good.
            outcome.helperLost = outcome.status != ReceivedScan::Status::Page;
            break;
        }
        Message event = std::move(events_.front());
        events_.pop_front();
        MessageReader in(event.payload);
        if (event.kind == Kind::Start && event.number == start) {
            const std::int32_t status = in.i32();
            ended = status != 0; // a start the helper refused sends no end
            outcome.condition = conditionForScanStatus(status);
        } else if (event.kind == Kind::Page && outcome.status != ReceivedScan::Status::Page) {
            lock.unlock();
            outcome = adoptPage(event);
            // The helper now ends the backend's work; one that hangs there is ended.
            link_->killAt(HelperLink::Clock::now() + kCancelLimit);
            lock.lock();
        } else if (event.kind == Kind::ScanEnded) {
            ended = true;
            in.u8(); // the result: a page arrived before it, or it did not
            if (outcome.status != ReceivedScan::Status::Page) {
                outcome.condition = conditionForScanStatus(in.i32());
            }
        } else if (event.fd >= 0) {
            ::close(event.fd);
        }
    }
    lock.unlock();
    link_->killAt(std::nullopt);
    link_->setWatching(false);
    if (cancel_) {
        twHandleFree(outcome.dib);
        ReceivedScan cancelled;
        cancelled.status = ReceivedScan::Status::Cancelled;
        cancelled.condition = TWCC_SCANCANCELLED;
        return cancelled;
    }
    return outcome;
}

ReceivedScan SourceManager::adoptPage(const Message& page) {
    ReceivedScan outcome;
    MessageReader in(page.payload);
    TW_IMAGEINFO info{};
    in.bytes(&info, sizeof info);
    const std::uint64_t bytes = in.u64();
    if (in.ok()) {
        outcome.dib = readPageFile(page.fd, bytes);
        if (outcome.dib) {
            outcome.info = info;
            outcome.status = ReceivedScan::Status::Page;
        }
    }
    if (page.fd >= 0) {
        ::close(page.fd);
    }
    return outcome;
}

TW_UINT16 SourceManager::capability(TW_UINT16 message, TW_CAPABILITY* cap) {
    if (message == MSG_GET || message == MSG_GETCURRENT) {
        return getCapability(cap);
    }
    if (message == MSG_SET) {
        if (state_ != 4) {
            return fail(TWCC_SEQERROR, true);
        }
        if (cap->ConType != TWON_ONEVALUE || twHandleSize(cap->hContainer) < sizeof(TW_ONEVALUE)) {
            return fail(TWCC_BADVALUE, true);
        }
        TW_ONEVALUE one;
        std::memcpy(&one, twHandleLock(cap->hContainer), sizeof one);
        twHandleUnlock(cap->hContainer);
        if (cap->Cap != ICAP_PIXELTYPE && cap->Cap != ICAP_XRESOLUTION &&
            cap->Cap != ICAP_YRESOLUTION) {
            return fail(TWCC_CAPUNSUPPORTED, true);
        }
        if (!table(kAnswerLimit)) {
            // The device is still opening: the value is applied before the scan starts.
            deferred_.emplace_back(cap->Cap, one);
            return TWRC_SUCCESS;
        }
        return setCapability(cap->Cap, one, kAnswerLimit);
    }
    return fail(TWCC_CAPBADOPERATION, true);
}

TW_UINT16 SourceManager::getCapability(TW_CAPABILITY* cap) {
    const OptionTable* known = table(kAnswerLimit);
    if (!known) {
        return fail(TWCC_BUMMER, true); // the device has not answered yet
    }
    const OptionTable& device = *known;
    if (cap->Cap == ICAP_PIXELTYPE) {
        const auto current = pixelTypeOf(device);
        const auto types = pixelTypesOf(device);
        const auto at = current ? std::find(types.begin(), types.end(), *current) : types.end();
        if (at == types.end()) {
            return fail(TWCC_CAPUNSUPPORTED, true);
        }
        std::vector<TW_UINT32> items(types.begin(), types.end());
        cap->ConType = TWON_ENUMERATION;
        cap->hContainer =
            enumerationOf(TWTY_UINT16, items, 2, static_cast<std::size_t>(at - types.begin()));
    } else if (cap->Cap == ICAP_XRESOLUTION || cap->Cap == ICAP_YRESOLUTION) {
        const char* option = resolutionOption(device, cap->Cap);
        const auto current = device.number(option);
        const OptionInfo* d = device.find(option);
        if (!current || !d) {
            return fail(TWCC_CAPUNSUPPORTED, true);
        }
        const auto choices = device.numberChoices(option);
        const auto at = std::find(choices.begin(), choices.end(), *current);
        if (d->limit == OptionInfo::Limit::Range) {
            TW_RANGE range{};
            range.ItemType = TWTY_FIX32;
            range.MinValue = fix32Word(d->min);
            range.MaxValue = fix32Word(d->max);
            range.StepSize = fix32Word(d->quant != 0 ? d->quant : 1.0);
            range.DefaultValue = fix32Word(*current);
            range.CurrentValue = fix32Word(*current);
            cap->ConType = TWON_RANGE;
            cap->hContainer = containerOf(&range, sizeof range);
        } else if (at != choices.end()) {
            std::vector<TW_UINT32> items;
            for (double c : choices) {
                items.push_back(fix32Word(c));
            }
            cap->ConType = TWON_ENUMERATION;
            cap->hContainer =
                enumerationOf(TWTY_FIX32, items, 4, static_cast<std::size_t>(at - choices.begin()));
        } else {
            TW_ONEVALUE one{TWTY_FIX32, fix32Word(*current)};
            cap->ConType = TWON_ONEVALUE;
            cap->hContainer = containerOf(&one, sizeof one);
        }
    } else {
        return fail(TWCC_CAPUNSUPPORTED, true);
    }
    return cap->hContainer ? TWRC_SUCCESS : fail(TWCC_LOWMEMORY, true);
}

TW_UINT16 SourceManager::setCapability(TW_UINT16 capId, const TW_ONEVALUE& one,
                                       std::chrono::milliseconds limit) {
    const OptionTable* known = table(limit);
    if (!known) {
        return fail(TWCC_BUMMER, true);
    }
    const OptionTable& device = *known;
    SetResult result = SetResult::Refused;
    if (capId == ICAP_PIXELTYPE) {
        if (one.ItemType != TWTY_UINT16) {
            return fail(TWCC_BADVALUE, true);
        }
        const auto mode = modeFor(device, one.Item & 0xFFFF);
        if (!mode) {
            return fail(TWCC_BADVALUE, true);
        }
        const bool hasDepth = device.has("depth");
        result = setOption({.name = "mode", .isText = true, .text = mode->first}, limit);
        if (result != SetResult::Refused && mode->second != 0 && hasDepth) {
            const SetResult depth =
                setOption({.name = "depth", .number = double(mode->second)}, limit);
            result = depth == SetResult::Done ? result : depth;
        }
    } else {
        if (one.ItemType != TWTY_FIX32) {
            return fail(TWCC_BADVALUE, true);
        }
        TW_FIX32 fix;
        std::memcpy(&fix, &one.Item, sizeof fix);
        const double dpi = fromFix32(fix);
        if (dpi <= 0) {
            return fail(TWCC_BADVALUE, true); // keeps the resolution it has
        }
        result = setOption({.name = resolutionOption(device, capId), .number = dpi}, limit);
    }
    switch (result) {
    case SetResult::Done:
        return TWRC_SUCCESS;
    case SetResult::Inexact:
        return TWRC_CHECKSTATUS; // the nearest value the device takes; read it back
    case SetResult::Refused:
        break;
    }
    return fail(TWCC_BADVALUE, true);
}

TW_UINT16 SourceManager::imageLayout(TW_UINT16 message, TW_IMAGELAYOUT* layout) {
    const OptionTable* known = table(kAnswerLimit);
    if (!known) {
        return fail(TWCC_BUMMER, true); // the device has not answered yet
    }
    const OptionTable& device = *known;
    static const char* const kEdges[4] = {"tl-x", "tl-y", "br-x", "br-y"};
    const OptionInfo* d = device.find("br-x");
    if (!d) {
        return fail(TWCC_BADPROTOCOL, true);
    }
    // Frames are in inches; SANE scan areas are in millimetres or in pixels at the resolution.
    const double dpi = device.number("resolution").value_or(0);
    const double perInch = d->unit == OptionInfo::Unit::Millimetre ? 25.4 : dpi;
    if (perInch <= 0) {
        return fail(TWCC_BUMMER, true);
    }
    TW_FIX32* edges[4] = {&layout->Frame.Left, &layout->Frame.Top, &layout->Frame.Right,
                          &layout->Frame.Bottom};
    if (message == MSG_GET || message == MSG_GETCURRENT) {
        for (int i = 0; i < 4; ++i) {
            const auto value = device.number(kEdges[i]);
            if (!value) {
                return fail(TWCC_BUMMER, true);
            }
            *edges[i] = toFix32(*value / perInch);
        }
        layout->DocumentNumber = 1;
        layout->PageNumber = 1;
        layout->FrameNumber = 1;
        return TWRC_SUCCESS;
    }
    if (message != MSG_SET) {
        return fail(TWCC_BADPROTOCOL, true);
    }
    if (state_ != 4) {
        return fail(TWCC_SEQERROR, true);
    }
    bool inexact = false;
    for (int i = 0; i < 4; ++i) {
        const SetResult r =
            setOption({.name = kEdges[i], .number = fromFix32(*edges[i]) * perInch}, kAnswerLimit);
        if (r == SetResult::Refused) {
            return fail(TWCC_BADVALUE, true);
        }
        inexact = inexact || r == SetResult::Inexact;
    }
    return inexact ? TWRC_CHECKSTATUS : TWRC_SUCCESS;
}

} // namespace vantrel::twain
