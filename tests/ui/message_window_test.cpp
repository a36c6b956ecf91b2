// The control message queue: posts from other threads arrive in order on the GUI thread, sends run
// at once, and a post through the C handle after the window is gone is harmless.

#include "ui/message_window.h"

#include <QCoreApplication>
#include <QThread>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace vantrel::test {
namespace {

struct Received {
    std::uint32_t message;
    std::uintptr_t wParam;
    std::intptr_t lParam;
    bool onGuiThread;
    bool operator==(const Received&) const = default;
};

TEST(MessageWindowTest, PostsFromAnotherThreadArriveInOrderOnTheGuiThread) {
    std::vector<Received> received;
    ui::MessageWindow window([&](std::uint32_t m, std::uintptr_t w, std::intptr_t l) {
        received.push_back({m, w, l, QThread::currentThread() == qApp->thread()});
        return std::intptr_t{0};
    });
    VantrelMessageTarget* handle = window.handle();
    std::thread poster([handle] {
        for (std::uint32_t i = 0; i < 3; ++i) {
            EXPECT_EQ(handle->post(handle->context, 0x400 + i, i, -static_cast<int>(i)), 1);
        }
    });
    poster.join();
    EXPECT_TRUE(received.empty()); // nothing runs until the GUI thread dispatches
    QCoreApplication::processEvents();
    const std::vector<Received> expected = {
        {0x400, 0, 0, true}, {0x401, 1, -1, true}, {0x402, 2, -2, true}};
    EXPECT_EQ(received, expected);
}

TEST(MessageWindowTest, SendRunsTheProcedureAtOnceAndReturnsItsResult) {
    ui::MessageWindow window([](std::uint32_t m, std::uintptr_t w, std::intptr_t l) {
        return std::intptr_t(m + w + l);
    });
    EXPECT_EQ(window.sendMessage(0x465, 1, 2), 0x465 + 3);
}

TEST(MessageWindowTest, PostsAfterTheWindowIsGoneAreDropped) {
    int calls = 0;
    auto window = std::make_unique<ui::MessageWindow>(
        [&](std::uint32_t, std::uintptr_t, std::intptr_t) { return std::intptr_t(++calls); });
    VantrelMessageTarget* handle = window->handle();
    EXPECT_TRUE(window->postMessage(0x401)); // still queued when the window dies
    window.reset();
    EXPECT_EQ(handle->post(handle->context, 0x402, 0, 0), 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 0);
}

} // namespace
} // namespace vantrel::test
