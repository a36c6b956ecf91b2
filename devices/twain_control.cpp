#include "devices/twain_control.h"

#include "devices/twain_texts.h"
#include "ui/message_window.h"
#include "ui/window.h"

namespace vantrel::devices {

TwainControl::TwainControl(ui::Component* component, std::unique_ptr<ManagerLibrary> library)
    : component_(component)
    , window_(std::make_unique<ui::MessageWindow>(
          [this](std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
              return windowProcedure(message, wParam, lParam);
          }))
    , session_(std::make_unique<TwainSession>(
          std::move(library), [this] { window_->sendMessage(kPictureReadyMessage, 0, 1); },
          [this](const AcquisitionEnd& end) {
              if (acquisitionEnded_) {
                  acquisitionEnded_(end);
              }
          })) {}

TwainControl::~TwainControl() {
    session_.reset();
}

bool TwainControl::Initialize() {
    return session_->initialize(window_->handle());
}

int TwainControl::SelectSource(bool useDefault, int index) {
    return session_->selectSource(useDefault, index);
}

bool TwainControl::Acquire(bool showUserInterface) {
    return session_->acquire(showUserInterface);
}

int TwainControl::SourceCount() const {
    return session_->sourceCount();
}

std::string TwainControl::SourceName() const {
    return session_->sourceName();
}

int TwainControl::SourceIndex() const {
    return session_->sourceIndex();
}

bool TwainControl::setSourceIndex(int index) {
    return SelectSource(false, index) == 1;
}

std::string TwainControl::LastError() const {
    return session_->lastError();
}

void TwainControl::setAcquisitionEndedHandler(std::function<void(const AcquisitionEnd&)> handler) {
    acquisitionEnded_ = std::move(handler);
}

int TwainControl::readCapability(TW_UINT16 capability) {
    return session_->readCapability(capability).value_or(-1);
}

bool TwainControl::writeCapability(TW_UINT16 capability, TW_UINT16 itemType, std::int32_t value) {
    session_->clearError();
    const bool ok = session_->writeCapability(capability, itemType, value);
    readCapability(capability); // read back: a failing read-back replaces the error text
    return ok;
}

int TwainControl::PixelType() {
    return readCapability(ICAP_PIXELTYPE);
}

bool TwainControl::setPixelType(int value) {
    if (value < 0 || value > 8) {
        session_->setError(twain_text::kPixelTypeRange);
        return false;
    }
    return writeCapability(ICAP_PIXELTYPE, TWTY_UINT16, value);
}

int TwainControl::XResolution() {
    return readCapability(ICAP_XRESOLUTION);
}

bool TwainControl::setXResolution(int value) {
    return writeCapability(ICAP_XRESOLUTION, TWTY_FIX32, value);
}

int TwainControl::YResolution() {
    return readCapability(ICAP_YRESOLUTION);
}

bool TwainControl::setYResolution(int value) {
    return writeCapability(ICAP_YRESOLUTION, TWTY_FIX32, value);
}

double TwainControl::readEdge(TwainSession::Edge edge) {
    return session_->readFrameEdge(edge);
}

bool TwainControl::writeEdge(TwainSession::Edge edge, double value) {
    const bool ok = session_->writeFrameEdge(edge, static_cast<float>(value));
    readEdge(edge);
    return ok;
}

double TwainControl::FrameTop() {
    return readEdge(TwainSession::Edge::Top);
}
bool TwainControl::setFrameTop(double value) {
    return writeEdge(TwainSession::Edge::Top, value);
}
double TwainControl::FrameBottom() {
    return readEdge(TwainSession::Edge::Bottom);
}
bool TwainControl::setFrameBottom(double value) {
    return writeEdge(TwainSession::Edge::Bottom, value);
}
double TwainControl::FrameLeft() {
    return readEdge(TwainSession::Edge::Left);
}
bool TwainControl::setFrameLeft(double value) {
    return writeEdge(TwainSession::Edge::Left, value);
}
double TwainControl::FrameRight() {
    return readEdge(TwainSession::Edge::Right);
}
bool TwainControl::setFrameRight(double value) {
    return writeEdge(TwainSession::Edge::Right, value);
}

std::intptr_t TwainControl::windowProcedure(std::uint32_t message, std::uintptr_t wParam,
                                            std::intptr_t lParam) {
    session_->forwardMessage(window_->handle(), message, wParam, lParam);
    if (message == kPictureReadyMessage) {
        deliverPicture();
    }
    return 0;
}

void TwainControl::deliverPicture() {
    // The page leaves the page buffer before the handler runs, so a nested transfer started by
    // the handler fills a fresh buffer while this one is still being looked at.
    std::optional<PageCopy> page = session_->takePage();
    if (!page || !component_) {
        return;
    }
    try {
        component_->raiseEvent(
            ui::EventKind::PictureAcquired,
            ui::EventArgs{.bytes = page->bmp(), .width = page->width, .height = page->height});
    } catch (...) {
        // A fault in the handler releases the page like a normal return.
    }
}

} // namespace vantrel::devices
