#include "devices/twain_session.h"

#include "devices/twain_texts.h"
#include "platform/twain/twain_handle.h"

#include <cmath>
#include <cstring>
#include <stdexcept>

namespace vantrel::devices {

namespace {

// The source's condition code for a closed acquisition, as the program tells it to the user.
AcquisitionEnd::Fault faultFor(TW_UINT16 condition) {
    using Fault = AcquisitionEnd::Fault;
    switch (condition) {
    case TWCC_SUCCESS:
        return Fault::None;
    case TWCC_SCANCANCELLED:
        return Fault::Cancelled;
    case TWCC_NOMEDIA:
        return Fault::NoPaper;
    case TWCC_PAPERJAM:
        return Fault::PaperJam;
    case TWCC_INTERLOCK:
        return Fault::CoverOpen;
    case TWCC_DRIVERLOST:
        return Fault::DriverLost;
    default:
        return Fault::DeviceError;
    }
}

void copyText(TW_STR32& field, const char* text) {
    std::memset(field, 0, sizeof field);
    std::strncpy(field, text, sizeof field - 1);
}

TW_IDENTITY applicationIdentity() {
    TW_IDENTITY identity{};
    identity.Id = 0;
    identity.Version.MajorNum = 1;
    identity.Version.MinorNum = 0;
    identity.Version.Language = 37;
    identity.Version.Country = 39;
    copyText(identity.Version.Info, "Korvanet1.0");
    identity.ProtocolMajor = 1;
    identity.ProtocolMinor = 9;
    identity.SupportedGroups = DG_CONTROL | DG_IMAGE;
    copyText(identity.Manufacturer, "Tessaly");
    copyText(identity.ProductFamily, "Lirvane");
    copyText(identity.ProductName, "Korvanet");
    return identity;
}

std::string productName(const TW_IDENTITY& identity) {
    return std::string(identity.ProductName,
                       strnlen(identity.ProductName, sizeof identity.ProductName));
}

// Size of one item of a capability container, 0 for types a value cannot be read from.
std::size_t itemSize(TW_UINT16 type) {
    switch (type) {
    case TWTY_INT8:
    case TWTY_UINT8:
        return 1;
    case TWTY_INT16:
    case TWTY_UINT16:
    case TWTY_BOOL:
        return 2;
    case TWTY_INT32:
    case TWTY_UINT32:
    case TWTY_FIX32:
        return 4;
    case TWTY_FRAME:
        return 16;
    case TWTY_STR32:
        return 34;
    default:
        return 0;
    }
}

// The 32-bit value of one enumeration item, as a one-value container would hold it.
std::int32_t itemValue(TW_UINT16 type, const std::uint8_t* at) {
    switch (type) {
    case TWTY_INT8:
        return static_cast<std::int8_t>(at[0]);
    case TWTY_UINT8:
        return at[0];
    case TWTY_INT16: {
        std::int16_t v;
        std::memcpy(&v, at, 2);
        return v;
    }
    case TWTY_UINT16:
    case TWTY_BOOL: {
        std::uint16_t v;
        std::memcpy(&v, at, 2);
        return v;
    }
    default: {
        std::int32_t v;
        std::memcpy(&v, at, 4);
        return v;
    }
    }
}

TW_FIX32& edgeOf(TW_FRAME& frame, TwainSession::Edge edge) {
    switch (edge) {
    case TwainSession::Edge::Top:
        return frame.Top;
    case TwainSession::Edge::Bottom:
        return frame.Bottom;
    case TwainSession::Edge::Left:
        return frame.Left;
    case TwainSession::Edge::Right:
        break;
    }
    return frame.Right;
}

} // namespace

TwainSession::TwainSession(std::unique_ptr<ManagerLibrary> library,
                           std::function<void()> sendPictureReady,
                           std::function<void(const AcquisitionEnd&)> acquisitionEnded)
    : library_(std::move(library))
    , sendPictureReady_(std::move(sendPictureReady))
    , acquisitionEnded_(std::move(acquisitionEnded))
    , appIdentity_(applicationIdentity()) {}

TwainSession::~TwainSession() {
    shutdown();
}

TW_UINT16 TwainSession::call(pTW_IDENTITY destination, TW_UINT32 group, TW_UINT16 dat,
                             TW_UINT16 message, TW_MEMREF data) {
    if (!entry_) {
        return TWRC_FAILURE;
    }
    TW_UINT16 rc = TWRC_FAILURE;
    try {
        rc = entry_(&appIdentity_, destination, group, dat, message, data);
    } catch (...) {
        rc = TWRC_FAILURE; // a fault inside the manager counts as a failed call
    }
    if (rc != TWRC_SUCCESS && dat != DAT_EVENT) {
        try {
            entry_(&appIdentity_, destination, DG_CONTROL, DAT_STATUS, MSG_GET, &status_);
        } catch (...) {
        }
    }
    return rc;
}

bool TwainSession::initialize(VantrelMessageTarget* parentWindow) {
    if (library_->loaded()) {
        errorText_ = twain_text::kAlreadyInitialised;
        return false;
    }
    if (library_->load()) {
        parentWindow_ = parentWindow;
        entry_ = library_->entry();
        if (!entry_) {
            library_->unload();
        }
    }
    if (!entry_) {
        errorText_ = twain_text::kManagerUnavailable;
        return false;
    }
    managerOpen_ =
        call(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &parentWindow_) == TWRC_SUCCESS;
    enumerateSources();
    return true;
}

void TwainSession::enumerateSources() {
    TW_IDENTITY identity{};
    TW_UINT16 rc = call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &identity);
    while (rc == TWRC_SUCCESS && sourceCount_ < kMaxSources) {
        sourceTable_[sourceCount_++] = identity;
        rc = call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &identity);
    }
}

int TwainSession::selectSource(bool useDefault, int index) {
    try {
        TW_IDENTITY identity{};
        TW_UINT16 rc = call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, &identity);
        if (!useDefault) {
            if (index == -1) {
                rc = call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, &identity);
            } else {
                // The table has only the entries the manager listed; anything else is a fault.
                if (index < 0 || index >= sourceCount_) {
                    throw std::out_of_range("source index");
                }
                identity = sourceTable_[index];
            }
        }
        if (rc != TWRC_SUCCESS) {
            return rc == TWRC_CANCEL ? 2 : -1;
        }
        if (identity.Id == sourceIdentity_.Id) {
            return 1;
        }
        const bool abandoned = sourceEnabled_ && acquisitionOpen_;
        closeSource();
        sourceIdentity_ = identity;
        sourceSelected_ = true;
        openSource();
        if (abandoned) {
            acquisitionOpen_ = false;
            report(AcquisitionEnd::Reason::Abandoned, acquisitionPages_);
        }
        return 1;
    } catch (...) {
        errorText_ = twain_text::kUnknownFault;
        return -1;
    }
}

bool TwainSession::openSource() {
    if (!sourceSelected_) {
        errorText_ = twain_text::kNoSourceSelected;
        return false;
    }
    if (call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &sourceIdentity_) == TWRC_SUCCESS) {
        sourceOpen_ = true;
    } else {
        // Reported as success: the next call to the source fails and says so itself.
        errorText_ = twain_text::kNotSupported;
    }
    return true;
}

void TwainSession::closeSource() {
    if (sourceEnabled_) {
        TW_USERINTERFACE ui{};
        callSource(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
        sourceEnabled_ = false;
    }
    if (sourceOpen_) {
        call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &sourceIdentity_);
        sourceOpen_ = false;
    }
}

bool TwainSession::acquire(bool showUserInterface) {
    if (!parentWindow_) {
        errorText_ = twain_text::kNoWindow;
        return false;
    }
    if (!sourceSelected_) {
        errorText_ = twain_text::kNoSourceChosen;
        return false;
    }
    if (!sourceOpen_) {
        openSource();
    }
    TW_USERINTERFACE ui{};
    ui.ShowUI = showUserInterface ? 1 : 0;
    ui.ModalUI = 0;
    ui.hParent = parentWindow_;
    if (callSource(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui) != TWRC_SUCCESS) {
        errorText_ = twain_text::kNotSupported;
        return false;
    }
    sourceEnabled_ = true;
    ++acquisitionSerial_;
    acquisitionPages_ = 0;
    acquisitionOpen_ = true;
    return true;
}

void TwainSession::shutdown() {
    if (entry_) {
        closeSource();
        if (managerOpen_) {
            call(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &parentWindow_);
            managerOpen_ = false;
        }
    }
    acquisitionOpen_ = false;
    library_->unload();
    entry_ = nullptr;
}

std::string TwainSession::sourceName() const {
    return sourceSelected_ ? productName(sourceIdentity_) : std::string();
}

int TwainSession::sourceIndex() const {
    if (!sourceSelected_) {
        return 0;
    }
    for (int i = 0; i < sourceCount_; ++i) {
        if (sourceTable_[i].Id == sourceIdentity_.Id) {
            return i;
        }
    }
    return -1;
}

int TwainSession::twainState() const {
    if (!library_->loaded()) {
        return 1;
    }
    if (sourceEnabled_) {
        return transferDepth_ > 0 ? 6 : 5;
    }
    if (sourceOpen_) {
        return 4;
    }
    return managerOpen_ ? 3 : 2;
}

std::optional<std::int32_t> TwainSession::readCapability(TW_UINT16 capability) {
    if (!sourceOpen_ && !openSource()) {
        return std::nullopt;
    }
    TW_CAPABILITY cap{};
    cap.Cap = capability;
    cap.ConType = TWON_DONTCARE16;
    cap.hContainer = nullptr;
    if (callSource(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap) != TWRC_SUCCESS) {
        errorText_ = twain_text::kCapabilityRefused;
        return std::nullopt;
    }
    std::optional<std::int32_t> value;
    const auto* bytes = static_cast<const std::uint8_t*>(twHandleLock(cap.hContainer));
    const std::size_t size = twHandleSize(cap.hContainer);
    if (bytes) {
        if (cap.ConType == TWON_ONEVALUE && size >= sizeof(TW_ONEVALUE)) {
            TW_ONEVALUE one;
            std::memcpy(&one, bytes, sizeof one);
            value = static_cast<std::int32_t>(one.Item);
        } else if (cap.ConType == TWON_RANGE && size >= sizeof(TW_RANGE)) {
            TW_RANGE range;
            std::memcpy(&range, bytes, sizeof range);
            value = static_cast<std::int32_t>(range.CurrentValue);
        } else if (cap.ConType == TWON_ENUMERATION && size >= offsetof(TW_ENUMERATION, ItemList)) {
            // The item that CurrentIndex designates: callers use the result as the value.
            TW_ENUMERATION list;
            std::memcpy(&list, bytes, offsetof(TW_ENUMERATION, ItemList));
            const std::size_t width = itemSize(list.ItemType);
            const std::size_t at =
                offsetof(TW_ENUMERATION, ItemList) + std::size_t{list.CurrentIndex} * width;
            if (width != 0 && list.CurrentIndex < list.NumItems && at + width <= size) {
                value = itemValue(list.ItemType, bytes + at);
            }
        }
    }
    twHandleUnlock(cap.hContainer);
    twHandleFree(cap.hContainer);
    return value;
}

bool TwainSession::writeCapability(TW_UINT16 capability, TW_UINT16 itemType, std::int32_t value) {
    if (!sourceOpen_ && !openSource()) {
        return false;
    }
    TW_HANDLE container = twHandleAlloc(sizeof(TW_ONEVALUE), 1);
    if (!container) {
        return false;
    }
    TW_ONEVALUE one{};
    one.ItemType = itemType;
    one.Item = static_cast<std::uint32_t>(value) & 0xFFFFu;
    std::memcpy(twHandleLock(container), &one, sizeof one);
    twHandleUnlock(container);
    TW_CAPABILITY cap{};
    cap.Cap = capability;
    cap.ConType = TWON_ONEVALUE;
    cap.hContainer = container;
    const bool ok = callSource(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap) == TWRC_SUCCESS;
    twHandleFree(container);
    return ok;
}

double TwainSession::readFrameEdge(Edge edge) {
    TW_IMAGELAYOUT layout{};
    if (callSource(DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, &layout) != TWRC_SUCCESS) {
        return -1.0;
    }
    const TW_FIX32 fix = edgeOf(layout.Frame, edge);
    return fix.Whole + fix.Frac / 65536.0;
}

bool TwainSession::writeFrameEdge(Edge edge, float value) {
    TW_IMAGELAYOUT layout{};
    if (callSource(DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, &layout) != TWRC_SUCCESS) {
        errorText_ = twain_text::kLayoutUnreadable;
        return false;
    }
    const long fixed = std::lround(static_cast<double>(value) * 65536.0);
    TW_FIX32& fix = edgeOf(layout.Frame, edge);
    fix.Whole = static_cast<TW_INT16>(fixed >> 16);
    fix.Frac = static_cast<TW_UINT16>(fixed & 0xFFFF);
    return callSource(DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &layout) == TWRC_SUCCESS;
}

void TwainSession::forwardMessage(VantrelMessageTarget* window, std::uint32_t message,
                                  std::uintptr_t wParam, std::intptr_t lParam) {
    if (!sourceEnabled_) {
        return;
    }
    TW_WINDOWMSG msg{};
    msg.hwnd = window;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    TW_EVENT event{};
    event.pEvent = &msg;
    event.TWMessage = MSG_NULL;
    if (callSource(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event) == TWRC_NOTDSEVENT) {
        return;
    }
    switch (event.TWMessage) {
    case MSG_XFERREADY:
        transferLoop();
        break;
    case MSG_CLOSEDSREQ:
    case MSG_CLOSEDSOK: {
        // Why the source asks to close, while it is still open to say so.
        TW_STATUS why{};
        callSource(DG_CONTROL, DAT_STATUS, MSG_GET, &why);
        closeSource();
        if (acquisitionOpen_) {
            acquisitionOpen_ = false;
            report(AcquisitionEnd::Reason::ClosedBySource, acquisitionPages_,
                   faultFor(why.ConditionCode));
        }
        break;
    }
    default:
        break;
    }
}

void TwainSession::transferLoop() {
    struct Depth {
        int& depth;
        explicit Depth(int& d)
            : depth(++d) {}
        ~Depth() { --depth; }
    } inside(transferDepth_);

    const int serial = acquisitionSerial_;
    int pages = 0;
    bool closed = false;
    auto reason = AcquisitionEnd::Reason::Completed;
    auto closeHere = [&](AcquisitionEnd::Reason why) {
        closeSource();
        closed = true;
        reason = why;
    };

    TW_PENDINGXFERS pending{};
    TW_IMAGEINFO info{};
    bool haveInfo = call(&sourceIdentity_, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info) == TWRC_SUCCESS;
    while (haveInfo) {
        TW_HANDLE dib = nullptr;
        // A code other than done, cancel or failure leaves no pending count to go on with.
        pending.Count = 0;
        const TW_UINT16 rc = callSource(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib);
        if (rc == TWRC_XFERDONE) {
            pending = {};
            callSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
            if (pending.Count == 0) {
                closeHere(AcquisitionEnd::Reason::Completed);
            }
            if (dib) {
                std::optional<PageCopy> copy = PageCopy::fromHandle(dib);
                page_.reset();
                if (copy) {
                    page_ = std::move(copy);
                    ++pages;
                    if (serial == acquisitionSerial_) {
                        ++acquisitionPages_;
                    }
                    sendPictureReady_();
                }
            }
        } else if (rc == TWRC_CANCEL || rc == TWRC_FAILURE) {
            pending = {};
            callSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
            if (pending.Count == 0) {
                closeHere(rc == TWRC_CANCEL ? AcquisitionEnd::Reason::Cancelled
                                            : AcquisitionEnd::Reason::Failed);
            }
        }
        if (pending.Count == 0) {
            break;
        }
        info = {};
        haveInfo = callSource(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info) == TWRC_SUCCESS;
    }
    if (!haveInfo && sourceEnabled_) {
        // Pages are pending but cannot be described: drop them and close, so the source is not
        // left in state 6 where it refuses every other request.
        pending = {};
        callSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending);
        closeHere(AcquisitionEnd::Reason::Failed);
    }
    if (closed) {
        if (serial == acquisitionSerial_) {
            acquisitionOpen_ = false;
        }
        report(reason, pages);
    }
}

std::optional<PageCopy> TwainSession::takePage() {
    std::optional<PageCopy> page = std::move(page_);
    page_.reset();
    return page;
}

void TwainSession::report(AcquisitionEnd::Reason reason, int pages, AcquisitionEnd::Fault fault) {
    if (acquisitionEnded_) {
        acquisitionEnded_(AcquisitionEnd{.reason = reason, .pages = pages, .fault = fault});
    }
}

} // namespace vantrel::devices
