#pragma once
// The scanner device component ("数码设备"): lists the TWAIN data sources, opens the chosen one,
// sets resolution and pixel type, enables it without its own user interface and hands every page
// to the program as the bytes of a complete BMP file through PictureAcquired of its ui::Component.
//
// The control owns a message window: it is the TWAIN parent window, receives the source's
// messages and delivers pages, all on the GUI thread. Commands return failure values and keep a
// failure text (LastError); nothing is shown to the user. Property reads that fail give -1
// (-1.0 for the frame edges); every write reads the property back at once.
//
// Beyond PictureAcquired the control reports the end of each acquisition (AcquisitionEnd), so a
// wait for a page also ends when the scan is cancelled, fails or is closed by the source.
// A handler must not destroy the control it was called from.

#include "devices/manager_library.h"
#include "devices/twain_session.h"

#include <functional>
#include <memory>
#include <string>

namespace vantrel::ui {
class Component;
class MessageWindow;
} // namespace vantrel::ui

namespace vantrel::devices {

class TwainControl {
public:
    // The picture-ready message: WM_USER + 101, wParam 0, lParam 1.
    static constexpr std::uint32_t kPictureReadyMessage = 0x0400 + 101;

    // `component` receives PictureAcquired (may be null); the source manager comes from
    // `library` (by default the file defaultManagerPath() names).
    explicit TwainControl(
        ui::Component* component,
        std::unique_ptr<ManagerLibrary> library = ManagerLibrary::fromFile(defaultManagerPath()));
    ~TwainControl();
    TwainControl(const TwainControl&) = delete;
    TwainControl& operator=(const TwainControl&) = delete;

    // Commands.
    bool Initialize();
    int SelectSource(bool useDefault, int index);
    bool Acquire(bool showUserInterface);

    // Properties.
    int SourceCount() const;
    std::string SourceName() const;
    int SourceIndex() const;
    bool setSourceIndex(int index); // same as SelectSource(false, index); true when it gave 1
    std::string LastError() const;
    int PixelType();
    bool setPixelType(int value);
    int XResolution();
    bool setXResolution(int value);
    int YResolution();
    bool setYResolution(int value);
    double FrameTop();
    bool setFrameTop(double value);
    double FrameBottom();
    bool setFrameBottom(double value);
    double FrameLeft();
    bool setFrameLeft(double value);
    double FrameRight();
    bool setFrameRight(double value);

    // Called after each acquisition ends, after its last page (if any) was delivered.
    void setAcquisitionEndedHandler(std::function<void(const AcquisitionEnd&)> handler);

    // The control's window (the TWAIN parent window).
    ui::MessageWindow& window() const { return *window_; }
    // The protocol state underneath, for diagnostics and tests.
    const TwainSession& session() const { return *session_; }

private:
    std::intptr_t windowProcedure(std::uint32_t message, std::uintptr_t wParam,
                                  std::intptr_t lParam);
    void deliverPicture();
    int readCapability(TW_UINT16 capability);
    bool writeCapability(TW_UINT16 capability, TW_UINT16 itemType, std::int32_t value);
    double readEdge(TwainSession::Edge edge);
    bool writeEdge(TwainSession::Edge edge, double value);

    ui::Component* component_;
    std::function<void(const AcquisitionEnd&)> acquisitionEnded_;
    // Declared before the session: the session (and the manager's scan thread) ends first.
    std::unique_ptr<ui::MessageWindow> window_;
    std::unique_ptr<TwainSession> session_;
};

} // namespace vantrel::devices
