#include "platform/twain/source_manager.h"

#include "platform/twain/twain_handle.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <dlfcn.h>
#include <link.h>
#include <optional>
#include <set>
#include <thread>

namespace vantrel::twain {

namespace {

constexpr std::size_t kStr32Bytes = sizeof(TW_STR32) - 1; // room for the text before its NUL

// Cuts `text` to at most `bytes` bytes without splitting a UTF-8 character.
std::string fitUtf8(const std::string& text, std::size_t bytes) {
    if (text.size() <= bytes) {
        return text;
    }
    std::size_t end = bytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    return text.substr(0, end);
}

void setText(TW_STR32& field, const std::string& text) {
    std::memset(field, 0, sizeof field);
    const std::string fitted = fitUtf8(text, kStr32Bytes);
    std::memcpy(field, fitted.data(), fitted.size());
}

std::string textOf(const TW_STR32& field) {
    return std::string(field, strnlen(field, sizeof field));
}

TW_FIX32 toFix32(double value) {
    const long fixed = std::lround(value * 65536.0);
    return TW_FIX32{static_cast<TW_INT16>(fixed >> 16), static_cast<TW_UINT16>(fixed & 0xFFFF)};
}

double fromFix32(TW_FIX32 fix) {
    return fix.Whole + fix.Frac / 65536.0;
}

TW_UINT32 fix32Word(double value) {
    const TW_FIX32 fix = toFix32(value);
    TW_UINT32 word;
    std::memcpy(&word, &fix, sizeof word);
    return word;
}

// A readable source name that fits TW_STR32 and keeps two devices of one model apart: the
// model and the SANE device name when they fit, else the model cut short and the device's number.
std::string productNameFor(const SANE_Device& device, std::size_t number,
                           const std::set<std::string>& taken) {
    const std::string model = device.model ? device.model : "";
    const std::string name = device.name ? device.name : "";
    std::string candidate = model + " (" + name + ")";
    const std::string suffix = " #" + std::to_string(number + 1);
    if (candidate.size() > kStr32Bytes || taken.count(candidate) != 0) {
        candidate = fitUtf8(model.empty() ? name : model, kStr32Bytes - suffix.size()) + suffix;
    }
    return candidate;
}

bool containsNoCase(const std::string& text, const char* word) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower.find(word) != std::string::npos;
}

// SANE's usual scan mode names for each TWAIN pixel type.
bool isColourMode(const std::string& m) {
    return containsNoCase(m, "color") || containsNoCase(m, "colour");
}
bool isGreyMode(const std::string& m) {
    return containsNoCase(m, "gray") || containsNoCase(m, "grey");
}
bool isLineartMode(const std::string& m) {
    return containsNoCase(m, "lineart") || containsNoCase(m, "binary") ||
           containsNoCase(m, "halftone");
}

std::optional<TW_UINT16> pixelTypeOf(SaneDevice& device) {
    const auto mode = device.text("mode");
    if (!mode) {
        return std::nullopt;
    }
    if (isColourMode(*mode)) {
        return TWPT_RGB;
    }
    if (isLineartMode(*mode)) {
        return TWPT_BW;
    }
    if (isGreyMode(*mode)) {
        return device.number("depth").value_or(8) == 1 ? TWPT_BW : TWPT_GRAY;
    }
    return std::nullopt;
}

std::vector<TW_UINT16> pixelTypesOf(SaneDevice& device) {
    std::set<TW_UINT16> types;
    const auto depths = device.numberChoices("depth");
    const bool depthOne = std::find(depths.begin(), depths.end(), 1.0) != depths.end();
    for (const std::string& m : device.textChoices("mode")) {
        if (isColourMode(m)) {
            types.insert(TWPT_RGB);
        } else if (isLineartMode(m)) {
            types.insert(TWPT_BW);
        } else if (isGreyMode(m)) {
            types.insert(TWPT_GRAY);
            if (depthOne) {
                types.insert(TWPT_BW);
            }
        }
    }
    return {types.begin(), types.end()};
}

// The mode string for a pixel type, and the depth to set with it (0: leave the depth alone).
std::optional<std::pair<std::string, int>> modeFor(SaneDevice& device, TW_UINT32 pixelType) {
    const auto modes = device.textChoices("mode");
    auto find = [&](bool (*test)(const std::string&)) -> std::optional<std::string> {
        for (const std::string& m : modes) {
            if (test(m)) {
                return m;
            }
        }
        return std::nullopt;
    };
    const bool hasDepth = device.has("depth");
    switch (pixelType) {
    case TWPT_BW:
        if (auto m = find(isLineartMode)) {
            return std::pair{*m, 0};
        }
        if (auto m = find(isGreyMode); m && hasDepth) {
            const auto depths = device.numberChoices("depth");
            if (std::find(depths.begin(), depths.end(), 1.0) != depths.end()) {
                return std::pair{*m, 1};
            }
        }
        return std::nullopt;
    case TWPT_GRAY:
        if (auto m = find(isGreyMode)) {
            return std::pair{*m, hasDepth ? 8 : 0};
        }
        return std::nullopt;
    case TWPT_RGB:
        if (auto m = find(isColourMode)) {
            return std::pair{*m, hasDepth ? 8 : 0};
        }
        return std::nullopt;
    default:
        return std::nullopt;
    }
}

const char* resolutionOption(SaneDevice& device, TW_UINT16 cap) {
    if (cap == ICAP_YRESOLUTION && device.has("y-resolution")) {
        return "y-resolution";
    }
    if (cap == ICAP_XRESOLUTION && device.has("x-resolution") && !device.has("resolution")) {
        return "x-resolution";
    }
    return "resolution";
}

// Writes `bytes` into a new container handle; null when memory runs out.
TW_HANDLE containerOf(const void* bytes, std::size_t size) {
    TW_HANDLE handle = twHandleAlloc(size, 1);
    if (handle) {
        std::memcpy(twHandleLock(handle), bytes, size);
        twHandleUnlock(handle);
    }
    return handle;
}

TW_HANDLE enumerationOf(TW_UINT16 itemType, const std::vector<TW_UINT32>& items,
                        std::size_t itemBytes, std::size_t current) {
    const std::size_t head = offsetof(TW_ENUMERATION, ItemList);
    std::vector<std::uint8_t> bytes(head + items.size() * itemBytes);
    TW_ENUMERATION e{};
    e.ItemType = itemType;
    e.NumItems = static_cast<TW_UINT32>(items.size());
    e.CurrentIndex = static_cast<TW_UINT32>(current);
    e.DefaultIndex = static_cast<TW_UINT32>(current);
    std::memcpy(bytes.data(), &e, head);
    for (std::size_t i = 0; i < items.size(); ++i) {
        std::memcpy(bytes.data() + head + i * itemBytes, &items[i], itemBytes);
    }
    return containerOf(bytes.data(), bytes.size());
}

// Keeps every SANE backend that libsane has loaded mapped for the life of the process. libsane
// unloads its backends in sane_exit, but a backend can leave a reader thread or static state
// (its configuration path) behind, which must not point into unmapped memory afterwards.
void pinLoadedBackends() {
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void*) {
            if (info->dlpi_name && std::strstr(info->dlpi_name, "/libsane-")) {
                dlopen(info->dlpi_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
            }
            return 0;
        },
        nullptr);
}

} // namespace

SourceManager& SourceManager::instance() {
    static SourceManager manager;
    return manager;
}

SourceManager::~SourceManager() {
    // The library is being unloaded: stop a scan still running and let SANE go.
    std::lock_guard lock(mutex_);
    closeEverything();
}

void SourceManager::closeEverything() {
    stopScan();
    dropPage();
    if (device_) {
        sane_close(device_->handle());
        device_.reset();
    }
    if (saneReady_) {
        sane_exit();
        saneReady_ = false;
    }
    devices_.clear();
    listed_ = false;
    parent_ = nullptr;
    state_ = 2;
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
            SANE_Int version = 0;
            if (sane_init(&version, nullptr) != SANE_STATUS_GOOD) {
                return fail(TWCC_BUMMER, false);
            }
            saneReady_ = true;
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
    const SANE_Device** list = nullptr;
    devices_.clear();
    listed_ = true;
    const SANE_Status status = sane_get_devices(&list, SANE_FALSE);
    pinLoadedBackends();
    if (status != SANE_STATUS_GOOD || !list) {
        return;
    }
    std::set<std::string> taken;
    for (std::size_t i = 0; list[i]; ++i) {
        const SANE_Device& d = *list[i];
        Device device;
        device.name = d.name ? d.name : "";
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
        setText(identity.Manufacturer, d.vendor ? d.vendor : "");
        setText(identity.ProductFamily, d.model ? d.model : "");
        const std::string product = productNameFor(d, i, taken);
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
        sane_close(device_->handle());
        device_.reset();
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
    SANE_Handle handle = nullptr;
    const SANE_Status opened = sane_open(chosen->name.c_str(), &handle);
    pinLoadedBackends();
    if (opened != SANE_STATUS_GOOD || !handle) {
        return fail(TWCC_OPERATIONERROR, false);
    }
    device_ = std::make_unique<SaneDevice>(handle);
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
    if (outcome_.status == ScanOutcome::Status::Page) {
        page_ = outcome_.dib;
        pageInfo_ = outcome_.info;
        outcome_ = {};
        state_ = 6;
        event->TWMessage = MSG_XFERREADY;
    } else {
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
    SaneDevice* device = device_.get();
    stage_ = ScanStage::Reading;
    scanner_ = std::thread([this, number, parent, device] {
        outcome_ = scanPage(*device, cancel_, stage_);
        const TW_UINT16 message =
            outcome_.status == ScanOutcome::Status::Page ? MSG_XFERREADY : MSG_CLOSEDSREQ;
        parent->post(parent->context, kSourceMessage, number, message);
    });
}

void SourceManager::stopScan() {
    if (!scanner_.joinable()) {
        return;
    }
    cancel_ = true;
    // The scan sees the flag after its current read and ends itself, letting the backend's
    // reader thread come to rest first. Cancelling from here instead would end that thread
    // wherever it is; that is kept for a read that waits on a scanner that sends nothing.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(1000);
    while (stage_ == ScanStage::Reading && std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ScanStage reading = ScanStage::Reading;
    if (device_ && stage_.compare_exchange_strong(reading, ScanStage::Woken)) {
        sane_cancel(device_->handle()); // wakes a read that waits for the scanner
    }
    scanner_.join();
    twHandleFree(outcome_.dib);
    outcome_ = {};
}

void SourceManager::dropPage() {
    twHandleFree(page_);
    page_ = nullptr;
}

TW_UINT16 SourceManager::capability(TW_UINT16 message, TW_CAPABILITY* cap) {
    if (message == MSG_GET || message == MSG_GETCURRENT) {
        return getCapability(cap);
    }
    if (message == MSG_SET) {
        if (state_ != 4) {
            return fail(TWCC_SEQERROR, true);
        }
        return setCapability(cap);
    }
    return fail(TWCC_CAPBADOPERATION, true);
}

TW_UINT16 SourceManager::getCapability(TW_CAPABILITY* cap) {
    SaneDevice& device = *device_;
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
        const SANE_Option_Descriptor* d = device.descriptor(option);
        if (!current || !d) {
            return fail(TWCC_CAPUNSUPPORTED, true);
        }
        const auto choices = device.numberChoices(option);
        const auto at = std::find(choices.begin(), choices.end(), *current);
        if (d->constraint_type == SANE_CONSTRAINT_RANGE) {
            const SANE_Range& r = *d->constraint.range;
            const auto unfix = [&](SANE_Word w) {
                return d->type == SANE_TYPE_FIXED ? SANE_UNFIX(w) : static_cast<double>(w);
            };
            TW_RANGE range{};
            range.ItemType = TWTY_FIX32;
            range.MinValue = fix32Word(unfix(r.min));
            range.MaxValue = fix32Word(unfix(r.max));
            range.StepSize = fix32Word(r.quant != 0 ? unfix(r.quant) : 1.0);
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

TW_UINT16 SourceManager::setCapability(TW_CAPABILITY* cap) {
    if (cap->ConType != TWON_ONEVALUE || twHandleSize(cap->hContainer) < sizeof(TW_ONEVALUE)) {
        return fail(TWCC_BADVALUE, true);
    }
    TW_ONEVALUE one;
    std::memcpy(&one, twHandleLock(cap->hContainer), sizeof one);
    twHandleUnlock(cap->hContainer);
    SaneDevice& device = *device_;
    SetResult result = SetResult::Refused;
    if (cap->Cap == ICAP_PIXELTYPE) {
        if (one.ItemType != TWTY_UINT16) {
            return fail(TWCC_BADVALUE, true);
        }
        const auto mode = modeFor(device, one.Item & 0xFFFF);
        if (!mode) {
            return fail(TWCC_BADVALUE, true);
        }
        result = device.setText("mode", mode->first);
        if (result != SetResult::Refused && mode->second != 0) {
            const SetResult depth = device.setNumber("depth", mode->second);
            result = depth == SetResult::Done ? result : depth;
        }
    } else if (cap->Cap == ICAP_XRESOLUTION || cap->Cap == ICAP_YRESOLUTION) {
        if (one.ItemType != TWTY_FIX32) {
            return fail(TWCC_BADVALUE, true);
        }
        TW_FIX32 fix;
        std::memcpy(&fix, &one.Item, sizeof fix);
        const double dpi = fromFix32(fix);
        if (dpi <= 0) {
            return fail(TWCC_BADVALUE, true); // keeps the resolution it has
        }
        result = device.setNumber(resolutionOption(device, cap->Cap), dpi);
    } else {
        return fail(TWCC_CAPUNSUPPORTED, true);
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
    SaneDevice& device = *device_;
    static const char* const kEdges[4] = {"tl-x", "tl-y", "br-x", "br-y"};
    const SANE_Option_Descriptor* d = device.descriptor("br-x");
    if (!d) {
        return fail(TWCC_BADPROTOCOL, true);
    }
    // Frames are in inches; SANE scan areas are in millimetres or in pixels at the resolution.
    const double dpi = device.number("resolution").value_or(0);
    const double perInch = d->unit == SANE_UNIT_MM ? 25.4 : dpi;
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
        const SetResult r = device.setNumber(kEdges[i], fromFix32(*edges[i]) * perInch);
        if (r == SetResult::Refused) {
            return fail(TWCC_BADVALUE, true);
        }
        inexact = inexact || r == SetResult::Inexact;
    }
    return inexact ? TWRC_CHECKSTATUS : TWRC_SUCCESS;
}

} // namespace vantrel::twain
