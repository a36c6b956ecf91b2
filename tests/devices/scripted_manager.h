#pragma once
// A TWAIN source manager played from a script inside the test: it lists the given sources, answers
// each triplet as the script says, records every call, and hands over the queued pages. Only one
// script is active at a time (DSM_Entry is a plain function).

#include "platform/twain/twain.h"
#include "platform/twain/twain_handle.h"

#include <chrono>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace vantrel::test {

struct Call {
    TW_UINT32 group;
    TW_UINT16 dat;
    TW_UINT16 message;
    TW_UINT32 destination; // Id of the destination, 0 for the manager
    bool operator==(const Call&) const = default;
};

// One page of a native transfer: the DIB bytes, or the return code to answer instead.
struct ScriptedPage {
    std::vector<std::uint8_t> dib;
    TW_UINT16 rc = TWRC_XFERDONE;
};

struct ScriptedManager {
    // The private message the scripted source posts to its parent window; wParam 0, lParam the
    // TWAIN message to report from MSG_PROCESSEVENT.
    static constexpr std::uint32_t kSourceMessage = 0x8001;

    std::vector<std::string> sources{"Alpha", "Beta"};
    TW_UINT16 defaultRc = TWRC_SUCCESS;
    TW_UINT32 defaultId = 1;
    TW_UINT16 userSelectRc = TWRC_SUCCESS;
    TW_UINT16 openDsmRc = TWRC_SUCCESS;
    TW_UINT16 openDsRc = TWRC_SUCCESS;
    TW_UINT16 enableRc = TWRC_SUCCESS;
    TW_UINT16 layoutGetRc = TWRC_SUCCESS;
    TW_FRAME frame{};
    int imageInfoFailsAt = -1; // the n-th DAT_IMAGEINFO (0-based) fails
    std::deque<ScriptedPage> pages;
    // Capability GET answers: container type and the bytes of the container.
    std::map<TW_UINT16, std::pair<TW_UINT16, std::vector<std::uint8_t>>> capabilities;
    std::optional<Call> throwOn;
    // How long the source lookup takes (a slow network backend).
    std::chrono::milliseconds lookupTime{0};
    // Called as each MSG_ENABLEDS arrives, before it is answered with enableRc (which it may
    // change): a test starts the source's scan from here, through the event queue as a real
    // source does.
    std::function<void()> enabling;

    // Recorded.
    std::vector<Call> calls;
    std::vector<std::vector<std::uint8_t>> setContainers; // bytes of each MSG_SET container
    std::vector<TW_IMAGELAYOUT> layoutsSet;
    VantrelMessageTarget* parent = nullptr;
    TW_UINT16 condition = TWCC_SUCCESS;
    int imageInfoCalls = 0;

    static ScriptedManager*& current() {
        static ScriptedManager* active = nullptr;
        return active;
    }
    ScriptedManager() { current() = this; }
    ~ScriptedManager() { current() = nullptr; }
    ScriptedManager(const ScriptedManager&) = delete;
    ScriptedManager& operator=(const ScriptedManager&) = delete;

    // The scripted source signals its parent window.
    void post(TW_UINT16 twainMessage) const {
        parent->post(parent->context, kSourceMessage, 0, twainMessage);
    }
    std::size_t count(TW_UINT16 dat, TW_UINT16 message) const {
        std::size_t n = 0;
        for (const Call& c : calls) {
            n += (c.dat == dat && c.message == message) ? 1 : 0;
        }
        return n;
    }
    // The calls without the DAT_STATUS queries the component makes after failures.
    std::vector<Call> callsWithoutStatus() const {
        std::vector<Call> out;
        for (const Call& c : calls) {
            if (c.dat != DAT_STATUS) {
                out.push_back(c);
            }
        }
        return out;
    }

    static TW_IDENTITY identity(TW_UINT32 id, const std::string& name) {
        TW_IDENTITY identity{};
        identity.Id = id;
        std::strncpy(identity.ProductName, name.c_str(), sizeof identity.ProductName - 1);
        return identity;
    }

    static TW_UINT16 entry(pTW_IDENTITY, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat,
                           TW_UINT16 msg, TW_MEMREF data) {
        return current() ? current()->answer(dest, dg, dat, msg, data) : TWRC_FAILURE;
    }

    TW_UINT16 fail(TW_UINT16 code) {
        condition = code;
        return TWRC_FAILURE;
    }

    TW_UINT16 answer(pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                     TW_MEMREF data) {
        const Call call{dg, dat, msg, dest ? dest->Id : 0};
        calls.push_back(call);
        if (throwOn && *throwOn == call) {
            throw std::runtime_error("fault inside the manager");
        }
        switch (dat) {
        case DAT_STATUS:
            static_cast<TW_STATUS*>(data)->ConditionCode = condition;
            condition = TWCC_SUCCESS;
            return TWRC_SUCCESS;
        case DAT_PARENT:
            if (msg == MSG_OPENDSM) {
                parent = *static_cast<VantrelMessageTarget**>(data);
                return openDsmRc;
            }
            return TWRC_SUCCESS;
        case DAT_IDENTITY:
            return identityCall(msg, static_cast<TW_IDENTITY*>(data));
        case DAT_USERINTERFACE:
            if (msg == MSG_ENABLEDS && enabling) {
                enabling();
            }
            return msg == MSG_ENABLEDS ? enableRc : TWRC_SUCCESS;
        case DAT_EVENT: {
            auto* event = static_cast<TW_EVENT*>(data);
            const auto* m = static_cast<const TW_WINDOWMSG*>(event->pEvent);
            if (m->message != kSourceMessage) {
                return TWRC_NOTDSEVENT;
            }
            event->TWMessage = static_cast<TW_UINT16>(m->lParam);
            return TWRC_DSEVENT;
        }
        case DAT_CAPABILITY:
            return capabilityCall(msg, static_cast<TW_CAPABILITY*>(data));
        case DAT_IMAGELAYOUT:
            if (msg == MSG_GET) {
                if (layoutGetRc != TWRC_SUCCESS) {
                    return fail(TWCC_BUMMER);
                }
                static_cast<TW_IMAGELAYOUT*>(data)->Frame = frame;
            } else {
                layoutsSet.push_back(*static_cast<TW_IMAGELAYOUT*>(data));
            }
            return TWRC_SUCCESS;
        case DAT_IMAGEINFO:
            return imageInfoCalls++ == imageInfoFailsAt ? fail(TWCC_BUMMER) : TWRC_SUCCESS;
        case DAT_IMAGENATIVEXFER: {
            if (pages.empty()) {
                return fail(TWCC_SEQERROR);
            }
            ScriptedPage page = std::move(pages.front());
            pages.pop_front();
            if (page.rc != TWRC_XFERDONE) {
                return page.rc;
            }
            TW_HANDLE handle = twHandleAlloc(page.dib.size(), 0);
            std::memcpy(twHandleLock(handle), page.dib.data(), page.dib.size());
            twHandleUnlock(handle);
            *static_cast<TW_HANDLE*>(data) = handle;
            return TWRC_XFERDONE;
        }
        case DAT_PENDINGXFERS: {
            auto* pending = static_cast<TW_PENDINGXFERS*>(data);
            if (msg == MSG_RESET) {
                pages.clear();
            }
            pending->Count = static_cast<TW_UINT16>(pages.size());
            return TWRC_SUCCESS;
        }
        default:
            return fail(TWCC_BADPROTOCOL);
        }
    }

    std::size_t nextSource = 0;
    TW_UINT16 identityCall(TW_UINT16 msg, TW_IDENTITY* identity) {
        switch (msg) {
        case MSG_GETFIRST:
            std::this_thread::sleep_for(lookupTime);
            nextSource = 0;
            [[fallthrough]];
        case MSG_GETNEXT:
            if (nextSource >= sources.size()) {
                return TWRC_ENDOFLIST;
            }
            *identity = ScriptedManager::identity(static_cast<TW_UINT32>(nextSource + 1),
                                                  sources[nextSource]);
            ++nextSource;
            return TWRC_SUCCESS;
        case MSG_GETDEFAULT:
            if (defaultRc != TWRC_SUCCESS) {
                return fail(TWCC_NODS);
            }
            *identity = ScriptedManager::identity(defaultId, sources.at(defaultId - 1));
            return TWRC_SUCCESS;
        case MSG_USERSELECT:
            return userSelectRc;
        case MSG_OPENDS:
            return openDsRc == TWRC_SUCCESS ? TWRC_SUCCESS : fail(TWCC_NODS);
        default:
            return TWRC_SUCCESS;
        }
    }

    TW_UINT16 capabilityCall(TW_UINT16 msg, TW_CAPABILITY* cap) {
        if (msg == MSG_SET) {
            const auto* bytes = static_cast<const std::uint8_t*>(twHandleLock(cap->hContainer));
            setContainers.emplace_back(bytes, bytes + twHandleSize(cap->hContainer));
            twHandleUnlock(cap->hContainer);
            return TWRC_SUCCESS;
        }
        auto it = capabilities.find(cap->Cap);
        if (it == capabilities.end()) {
            return fail(TWCC_CAPUNSUPPORTED);
        }
        cap->ConType = it->second.first;
        cap->hContainer = twHandleAlloc(it->second.second.size(), 0);
        std::memcpy(twHandleLock(cap->hContainer), it->second.second.data(),
                    it->second.second.size());
        twHandleUnlock(cap->hContainer);
        return TWRC_SUCCESS;
    }
};

} // namespace vantrel::test
