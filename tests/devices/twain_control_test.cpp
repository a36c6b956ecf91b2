// The scanner component against a scripted source manager: the protocol's corner cases, every
// failure text, the page bytes, and the end-of-acquisition report.

#include "devices/twain_control.h"
#include "tests/devices/scripted_manager.h"
#include "ui/message_window.h"
#include "ui/window.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

namespace vantrel::test {
namespace {

using devices::AcquisitionEnd;
using devices::ManagerLibrary;
using devices::TwainControl;

struct Picture {
    std::vector<std::uint8_t> bytes;
    int width;
    int height;
};

class EventRecorder final : public ui::EventSink {
public:
    void deliverEvent(std::string_view, ui::EventKind kind, const ui::EventArgs& args) override {
        if (kind == ui::EventKind::PictureAcquired) {
            pictures.push_back({{args.bytes.begin(), args.bytes.end()}, args.width, args.height});
            if (onPicture) {
                onPicture();
            }
        }
    }
    std::vector<Picture> pictures;
    std::function<void()> onPicture;
};

// A DIB with header, colour table and rows filled with a pattern.
std::vector<std::uint8_t> makeDib(int bits, int width, int height, std::uint32_t compression = 0) {
    const int entries = bits == 1 ? 2 : bits == 4 ? 16 : bits == 8 ? 256 : 0;
    const std::size_t stride = (static_cast<std::size_t>(bits) * width + 31) / 32 * 4;
    std::vector<std::uint8_t> dib(40 + 4 * entries + stride * height);
    TW_BITMAPINFOHEADER header{};
    header.biSize = 40;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = static_cast<TW_UINT16>(bits);
    header.biCompression = compression;
    header.biSizeImage = 12345; // kept as the source wrote it
    std::memcpy(dib.data(), &header, sizeof header);
    for (std::size_t i = 40; i < dib.size(); ++i) {
        dib[i] = static_cast<std::uint8_t>(i * 7 + 3);
    }
    return dib;
}

// Names each row of a case table after its `name` field.
struct RowName {
    template <typename Param>
    std::string operator()(const ::testing::TestParamInfo<Param>& row) const {
        return row.param.name;
    }
};

// Prints a case row by its name (in test names and failure messages).
template <typename Row>
requires requires(const Row& row) {
    row.name;
}
void PrintTo(const Row& row, std::ostream* os) {
    *os << row.name;
}

std::uint32_t le32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

class TwainControlTest : public ::testing::Test {
protected:
    TwainControlTest() { component_.attach(&events_); }

    TwainControl& control() {
        if (!control_) {
            control_ = std::make_unique<TwainControl>(
                &component_, ManagerLibrary::fromEntry(&ScriptedManager::entry));
            control_->setAcquisitionEndedHandler(
                [this](const AcquisitionEnd& end) { ends_.push_back(end); });
        }
        return *control_;
    }
    // Initialise, choose source `index`, enable it.
    void startAcquisition(int index = 0) {
        ASSERT_TRUE(control().Initialize());
        ASSERT_EQ(control().SelectSource(false, index), 1);
        ASSERT_TRUE(control().Acquire(false));
    }
    // The scripted source says a transfer is ready; the message arrives through the queue.
    void signal(TW_UINT16 twainMessage) {
        manager_.post(twainMessage);
        QCoreApplication::processEvents();
    }

    ScriptedManager manager_;
    EventRecorder events_;
    ui::Component component_{"数码设备1", ""};
    std::vector<AcquisitionEnd> ends_;
    std::unique_ptr<TwainControl> control_;
};

TEST_F(TwainControlTest, ListsOnlyTheFirstTenSourcesInTheManagersOrder) {
    manager_.sources.clear();
    for (int i = 0; i < 12; ++i) {
        manager_.sources.push_back("Scanner " + std::to_string(i));
    }
    ASSERT_TRUE(control().Initialize());
    EXPECT_EQ(control().SourceCount(), 10);
    EXPECT_EQ(manager_.count(DAT_IDENTITY, MSG_GETNEXT), 10u); // stops asking once full
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(control().setSourceIndex(i));
        EXPECT_EQ(control().SourceName(), "Scanner " + std::to_string(i));
        EXPECT_EQ(control().SourceIndex(), i);
    }
}

TEST_F(TwainControlTest, SecondInitializeFailsAndKeepsTheTable) {
    ASSERT_TRUE(control().Initialize());
    manager_.sources.push_back("Gamma");
    EXPECT_FALSE(control().Initialize());
    EXPECT_EQ(control().LastError(), "您已经初始化过了。");
    EXPECT_EQ(control().SourceCount(), 2);
    EXPECT_EQ(manager_.count(DAT_PARENT, MSG_OPENDSM), 1u);
}

TEST_F(TwainControlTest, MissingManagerFailsAndInitializeCanBeRetried) {
    TwainControl missing(&component_, ManagerLibrary::fromFile("/nonexistent/libnone.so"));
    EXPECT_FALSE(missing.Initialize());
    EXPECT_EQ(missing.LastError(), "打开数据源管理失败。");
    EXPECT_FALSE(missing.Initialize());
    EXPECT_EQ(missing.LastError(), "打开数据源管理失败。"); // not "already initialised"

    TwainControl noEntry(&component_, ManagerLibrary::fromEntry(nullptr));
    EXPECT_FALSE(noEntry.Initialize());
    EXPECT_EQ(noEntry.LastError(), "打开数据源管理失败。");
    EXPECT_EQ(noEntry.session().twainState(), 1);
}

struct SelectCase {
    const char* name;
    TW_UINT16 defaultRc;
    TW_UINT16 userSelectRc;
    bool useDefault;
    int index;
    int expected;
    const char* expectedSource; // chosen source afterwards ("" = none)
    const char* expectedError;
};

const SelectCase kSelectCases[] = {
    {"TableEntry", TWRC_SUCCESS, TWRC_SUCCESS, false, 1, 1, "Beta", ""},
    {"DefaultSource", TWRC_SUCCESS, TWRC_SUCCESS, true, 1, 1, "Alpha", ""},
    {"NoDefaultFailsEvenWithAValidIndex", TWRC_FAILURE, TWRC_SUCCESS, false, 1, -1, "", ""},
    {"DialogCancelled", TWRC_SUCCESS, TWRC_CANCEL, false, -1, 2, "", ""},
    {"DialogFailed", TWRC_SUCCESS, TWRC_FAILURE, false, -1, -1, "", ""},
    {"IndexBeyondTheTable", TWRC_SUCCESS, TWRC_SUCCESS, false, 5, -1, "", "发生未知的异常"},
};

class SelectSourceTest : public TwainControlTest,
                         public ::testing::WithParamInterface<SelectCase> {};

TEST_P(SelectSourceTest, ResultAndChosenSource) {
    const SelectCase& c = GetParam();
    manager_.defaultRc = c.defaultRc;
    manager_.userSelectRc = c.userSelectRc;
    ASSERT_TRUE(control().Initialize());
    EXPECT_EQ(control().SelectSource(c.useDefault, c.index), c.expected);
    EXPECT_EQ(control().SourceName(), c.expectedSource);
    EXPECT_EQ(control().LastError(), c.expectedError);
    EXPECT_EQ(manager_.count(DAT_IDENTITY, MSG_OPENDS), *c.expectedSource ? 1u : 0u);
    EXPECT_EQ(control().session().twainState(), *c.expectedSource ? 4 : 3);
}

INSTANTIATE_TEST_SUITE_P(Cases, SelectSourceTest, ::testing::ValuesIn(kSelectCases), RowName());

TEST_F(TwainControlTest, ChoosingTheChosenSourceAgainDoesNotReopenIt) {
    manager_.pages.push_back({makeDib(24, 4, 2)});
    startAcquisition(1);
    signal(MSG_XFERREADY);
    ASSERT_EQ(events_.pictures.size(), 1u);
    EXPECT_EQ(control().session().twainState(), 3); // the batch closed the source

    EXPECT_EQ(control().SelectSource(false, 1), 1);
    EXPECT_EQ(manager_.count(DAT_IDENTITY, MSG_OPENDS), 1u);
    EXPECT_EQ(control().session().twainState(), 3);

    ASSERT_TRUE(control().Acquire(false)); // reopens first
    EXPECT_EQ(manager_.count(DAT_IDENTITY, MSG_OPENDS), 2u);
    EXPECT_EQ(control().session().twainState(), 5);

    // Choosing another source closes the enabled one before opening the new one.
    const std::size_t before = manager_.calls.size();
    EXPECT_EQ(control().SelectSource(false, 0), 1);
    const std::vector<Call> after(manager_.calls.begin() + static_cast<long>(before),
                                  manager_.calls.end());
    const std::vector<Call> expected = {
        {DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, 0},
        {DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, 2},
        {DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, 0},
        {DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, 0},
    };
    EXPECT_EQ(after, expected);
    ASSERT_EQ(ends_.size(), 2u);
    EXPECT_EQ(ends_[1].reason, AcquisitionEnd::Reason::Abandoned);
}

TEST_F(TwainControlTest, CommandsFailWithTheirTexts) {
    EXPECT_FALSE(control().Acquire(false));
    EXPECT_EQ(control().LastError(), "在窗口上没有控件");

    ASSERT_TRUE(control().Initialize());
    EXPECT_FALSE(control().Acquire(false));
    EXPECT_EQ(control().LastError(), "还没有选择来源");
    EXPECT_EQ(control().PixelType(), -1);
    EXPECT_EQ(control().LastError(), "没有选择数据源");

    manager_.openDsRc = TWRC_FAILURE;
    EXPECT_EQ(control().SelectSource(false, 0), 1); // the open still reports success
    EXPECT_EQ(control().LastError(), "您的硬件不支持此方法");
    EXPECT_EQ(control().session().twainState(), 3);

    manager_.openDsRc = TWRC_SUCCESS;
    manager_.enableRc = TWRC_FAILURE;
    EXPECT_FALSE(control().Acquire(false));
    EXPECT_EQ(control().LastError(), "您的硬件不支持此方法");
    EXPECT_EQ(control().session().twainState(), 4);

    EXPECT_EQ(control().XResolution(), -1); // no such capability in the script
    EXPECT_EQ(control().LastError(), "取属性出错，您的硬件可能不支持此属性。");

    manager_.layoutGetRc = TWRC_FAILURE;
    EXPECT_EQ(control().FrameTop(), -1.0);
    EXPECT_FALSE(control().setFrameTop(1.0));
    EXPECT_EQ(control().LastError(), "获取当前的位置信息出错。");
    EXPECT_TRUE(manager_.layoutsSet.empty());
}

TEST_F(TwainControlTest, StatusIsAskedAfterEveryFailureButNotForEvents) {
    manager_.defaultRc = TWRC_FAILURE;
    ASSERT_TRUE(control().Initialize());
    ASSERT_EQ(control().SelectSource(false, 0), -1);
    const Call getDefault{DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, 0};
    const Call status{DG_CONTROL, DAT_STATUS, MSG_GET, 0};
    auto at = std::find(manager_.calls.begin(), manager_.calls.end(), getDefault);
    ASSERT_NE(at, manager_.calls.end());
    ASSERT_NE(at + 1, manager_.calls.end());
    EXPECT_EQ(at[1], status);
    EXPECT_EQ(control().session().status().ConditionCode, TWCC_NODS);

    manager_.defaultRc = TWRC_SUCCESS;
    ASSERT_EQ(control().SelectSource(false, 0), 1);
    ASSERT_TRUE(control().Acquire(false));
    const std::size_t statusBefore = manager_.count(DAT_STATUS, MSG_GET);
    control().window().sendMessage(0x0200); // an ordinary message: TWRC_NOTDSEVENT
    EXPECT_EQ(manager_.count(DAT_EVENT, MSG_PROCESSEVENT), 1u);
    EXPECT_EQ(manager_.count(DAT_STATUS, MSG_GET), statusBefore);
}

TEST_F(TwainControlTest, AFaultInsideTheManagerCountsAsFailure) {
    manager_.throwOn = Call{DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, 1};
    ASSERT_TRUE(control().Initialize());
    ASSERT_EQ(control().SelectSource(false, 0), 1);
    EXPECT_FALSE(control().Acquire(false));
    EXPECT_EQ(control().LastError(), "您的硬件不支持此方法");
    EXPECT_EQ(control().session().twainState(), 4);
}

struct PixelTypeCase {
    const char* name;
    int value;
    bool sent;
};

const PixelTypeCase kPixelTypeCases[] = {
    {"Nine", 9, false}, {"MinusOne", -1, false}, {"Zero", 0, true}, {"Eight", 8, true}};

class PixelTypeWriteTest : public TwainControlTest,
                           public ::testing::WithParamInterface<PixelTypeCase> {};

TEST_P(PixelTypeWriteTest, OnlyZeroToEightIsSent) {
    const PixelTypeCase& c = GetParam();
    ASSERT_TRUE(control().Initialize());
    ASSERT_EQ(control().SelectSource(false, 0), 1);
    EXPECT_EQ(control().setPixelType(c.value), c.sent);
    EXPECT_EQ(manager_.setContainers.size(), c.sent ? 1u : 0u);
    if (!c.sent) {
        EXPECT_EQ(control().LastError(), "象素类型必须是0----8之间.");
        EXPECT_EQ(manager_.count(DAT_CAPABILITY, MSG_GET), 0u); // no read-back either
    } else {
        EXPECT_EQ(manager_.setContainers[0],
                  (std::vector<std::uint8_t>{TWTY_UINT16, 0, static_cast<std::uint8_t>(c.value), 0,
                                             0, 0}));
        EXPECT_EQ(manager_.count(DAT_CAPABILITY, MSG_GET), 1u); // read back at once
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, PixelTypeWriteTest, ::testing::ValuesIn(kPixelTypeCases),
                         RowName());

TEST_F(TwainControlTest, ResolutionIsSentAsOneValueFix32) {
    ASSERT_TRUE(control().Initialize());
    ASSERT_EQ(control().SelectSource(false, 0), 1);
    EXPECT_TRUE(control().setXResolution(300));
    EXPECT_TRUE(control().setYResolution(70000)); // only the low 16 bits travel
    ASSERT_EQ(manager_.setContainers.size(), 2u);
    // ItemType TWTY_FIX32, then Whole 300 (0x012C) and Frac 0.
    EXPECT_EQ(manager_.setContainers[0], (std::vector<std::uint8_t>{7, 0, 0x2C, 0x01, 0, 0}));
    EXPECT_EQ(manager_.setContainers[1], (std::vector<std::uint8_t>{7, 0, 0x70, 0x11, 0, 0}));
    // The refused read-back replaced the (emptied) error text.
    EXPECT_EQ(control().LastError(), "取属性出错，您的硬件可能不支持此属性。");
}

std::vector<std::uint8_t> bytesOf(const auto& value) {
    std::vector<std::uint8_t> bytes(sizeof value);
    std::memcpy(bytes.data(), &value, sizeof value);
    return bytes;
}

struct CapabilityReadCase {
    const char* name;
    TW_UINT16 conType;
    std::vector<std::uint8_t> container;
    int expected;
};

std::vector<CapabilityReadCase> capabilityReadCases() {
    const TW_FIX32 dpi300{300, 0};
    std::uint32_t fix300;
    std::memcpy(&fix300, &dpi300, 4);
    TW_RANGE range{TWTY_FIX32, 0, 0, 0, 0, fix300};
    TW_ONEVALUE one{TWTY_FIX32, fix300 | 0x80000000u}; // 300.5: the fraction rides along
    // Enumeration of UINT16 {0, 1, 2} with CurrentIndex 1 (designating the value 1).
    std::vector<std::uint8_t> list(offsetof(TW_ENUMERATION, ItemList) + 6);
    TW_ENUMERATION head{TWTY_UINT16, 3, 1, 0, {0}};
    std::memcpy(list.data(), &head, offsetof(TW_ENUMERATION, ItemList));
    const std::uint16_t items[3] = {5, 7, 9};
    std::memcpy(list.data() + offsetof(TW_ENUMERATION, ItemList), items, 6);
    return {
        {"OneValue", TWON_ONEVALUE, bytesOf(one), static_cast<int>(fix300 | 0x80000000u)},
        {"Range", TWON_RANGE, bytesOf(range), 300},
        {"EnumerationGivesTheItemAtCurrentIndex", TWON_ENUMERATION, list, 7},
        {"ArrayIsRefused", TWON_ARRAY, list, -1},
    };
}

class CapabilityReadTest : public TwainControlTest,
                           public ::testing::WithParamInterface<CapabilityReadCase> {};

TEST_P(CapabilityReadTest, CurrentValueByContainerType) {
    const CapabilityReadCase& c = GetParam();
    manager_.capabilities[ICAP_XRESOLUTION] = {c.conType, c.container};
    ASSERT_TRUE(control().Initialize());
    ASSERT_EQ(control().SelectSource(false, 0), 1);
    EXPECT_EQ(control().XResolution(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, CapabilityReadTest, ::testing::ValuesIn(capabilityReadCases()),
                         RowName());

TEST_F(TwainControlTest, FrameEdgesConvertFix32BothWays) {
    manager_.frame.Top = {2, 0x8000};
    manager_.frame.Right = {-1, 0x4000};
    ASSERT_TRUE(control().Initialize());
    ASSERT_EQ(control().SelectSource(false, 0), 1);
    EXPECT_DOUBLE_EQ(control().FrameTop(), 2.5);
    EXPECT_DOUBLE_EQ(control().FrameRight(), -0.75);
    EXPECT_DOUBLE_EQ(control().FrameLeft(), 0.0);

    EXPECT_TRUE(control().setFrameBottom(8.5));
    EXPECT_TRUE(control().setFrameLeft(-0.5)); // halves round away from zero
    ASSERT_EQ(manager_.layoutsSet.size(), 2u);
    EXPECT_EQ(manager_.layoutsSet[0].Frame.Bottom.Whole, 8);
    EXPECT_EQ(manager_.layoutsSet[0].Frame.Bottom.Frac, 0x8000);
    EXPECT_EQ(manager_.layoutsSet[0].Frame.Top.Whole, 2); // the rest of the record stays
    EXPECT_EQ(manager_.layoutsSet[1].Frame.Left.Whole, -1);
    EXPECT_EQ(manager_.layoutsSet[1].Frame.Left.Frac, 0x8000);
}

struct PageCase {
    const char* name;
    int bits;
    int width;
    int height;
    std::uint32_t compression;
    bool delivered;
    std::uint32_t fileSize;
    std::uint32_t rowsOffset;
};

const PageCase kPageCases[] = {
    {"OneBit33Wide", 1, 33, 5, 0, true, 14 + 40 + 8 + 8 * 5, 62},
    {"FourBit", 4, 3, 2, 0, true, 14 + 40 + 64 + 4 * 2, 118},
    {"EightBit", 8, 5, 3, 0, true, 14 + 40 + 1024 + 8 * 3, 1078},
    {"TwentyFourBit", 24, 3, 2, 0, true, 14 + 40 + 12 * 2, 54},
    {"SixteenBitRefused", 16, 3, 2, 0, false, 0, 0},
    {"ThirtyTwoBitRefused", 32, 3, 2, 0, false, 0, 0},
    {"CompressedRefused", 8, 3, 2, 1, false, 0, 0},
};

class PageBytesTest : public TwainControlTest, public ::testing::WithParamInterface<PageCase> {};

TEST_P(PageBytesTest, BmpFileFromTheDib) {
    const PageCase& c = GetParam();
    const auto dib = makeDib(c.bits, c.width, c.height, c.compression);
    manager_.pages.push_back({dib});
    manager_.pages.push_back({makeDib(24, 2, 2)}); // the batch goes on after a refused page
    startAcquisition();
    signal(MSG_XFERREADY);
    ASSERT_EQ(events_.pictures.size(), c.delivered ? 2u : 1u);
    EXPECT_EQ(control().session().twainState(), 3);
    if (!c.delivered) {
        return;
    }
    const Picture& page = events_.pictures[0];
    EXPECT_EQ(page.width, c.width);
    EXPECT_EQ(page.height, c.height);
    ASSERT_EQ(page.bytes.size(), c.fileSize);
    EXPECT_EQ(page.bytes[0], 'B');
    EXPECT_EQ(page.bytes[1], 'M');
    EXPECT_EQ(le32(page.bytes, 2), c.fileSize);
    EXPECT_EQ(le32(page.bytes, 6), 0u);
    EXPECT_EQ(le32(page.bytes, 10), c.rowsOffset);
    // Header (biSizeImage untouched), colour table and rows exactly as the source gave them.
    EXPECT_TRUE(std::equal(dib.begin(), dib.end(), page.bytes.begin() + 14));
}

INSTANTIATE_TEST_SUITE_P(Cases, PageBytesTest, ::testing::ValuesIn(kPageCases), RowName());

TEST_F(TwainControlTest, LastPageArrivesAfterTheSourceWasClosed) {
    manager_.pages.push_back({makeDib(8, 2, 2)});
    manager_.pages.push_back({makeDib(8, 3, 3)});
    startAcquisition();
    std::vector<int> statesSeen;
    events_.onPicture = [&] { statesSeen.push_back(control().session().twainState()); };
    signal(MSG_XFERREADY);
    ASSERT_EQ(events_.pictures.size(), 2u);
    // The first page while one is still pending (inside the transfer loop), the last after close.
    EXPECT_EQ(statesSeen, (std::vector<int>{6, 3}));
    ASSERT_EQ(ends_.size(), 1u);
    EXPECT_EQ(ends_[0].reason, AcquisitionEnd::Reason::Completed);
    EXPECT_EQ(ends_[0].pages, 2);
}

struct EndCase {
    const char* name;
    TW_UINT16 transferRc;
    AcquisitionEnd::Reason reason;
};

const EndCase kEndCases[] = {
    {"Cancelled", TWRC_CANCEL, AcquisitionEnd::Reason::Cancelled},
    {"Failed", TWRC_FAILURE, AcquisitionEnd::Reason::Failed},
};

class EndWithoutPageTest : public TwainControlTest,
                           public ::testing::WithParamInterface<EndCase> {};

TEST_P(EndWithoutPageTest, ReportedOnceAndTheControlStaysUsable) {
    manager_.pages.push_back({{}, GetParam().transferRc});
    startAcquisition();
    signal(MSG_XFERREADY);
    EXPECT_TRUE(events_.pictures.empty());
    ASSERT_EQ(ends_.size(), 1u);
    EXPECT_EQ(ends_[0].reason, GetParam().reason);
    EXPECT_EQ(ends_[0].pages, 0);
    EXPECT_EQ(control().session().twainState(), 3);
    EXPECT_EQ(manager_.count(DAT_PENDINGXFERS, MSG_ENDXFER), 1u);

    manager_.pages.push_back({makeDib(24, 1, 1)});
    ASSERT_TRUE(control().Acquire(false));
    signal(MSG_XFERREADY);
    EXPECT_EQ(events_.pictures.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Cases, EndWithoutPageTest, ::testing::ValuesIn(kEndCases), RowName());

TEST_F(TwainControlTest, CloseRequestClosesTheSourceAndTheControlStaysUsable) {
    startAcquisition();
    signal(MSG_CLOSEDSREQ);
    EXPECT_EQ(control().session().twainState(), 3);
    EXPECT_EQ(manager_.count(DAT_USERINTERFACE, MSG_DISABLEDS), 1u);
    EXPECT_EQ(manager_.count(DAT_IDENTITY, MSG_CLOSEDS), 1u);
    ASSERT_EQ(ends_.size(), 1u);
    EXPECT_EQ(ends_[0].reason, AcquisitionEnd::Reason::ClosedBySource);
    EXPECT_EQ(ends_[0].pages, 0);

    manager_.pages.push_back({makeDib(24, 1, 1)});
    ASSERT_TRUE(control().Acquire(false));
    signal(MSG_XFERREADY);
    EXPECT_EQ(events_.pictures.size(), 1u);
    // A message the source no longer cares about once it is closed is not forwarded.
    const std::size_t forwarded = manager_.count(DAT_EVENT, MSG_PROCESSEVENT);
    signal(MSG_XFERREADY);
    EXPECT_EQ(manager_.count(DAT_EVENT, MSG_PROCESSEVENT), forwarded);
}

TEST_F(TwainControlTest, ImageInfoFailingWithPagesPendingResetsAndCloses) {
    manager_.pages.push_back({makeDib(24, 1, 1)});
    manager_.pages.push_back({makeDib(24, 1, 1)});
    manager_.pages.push_back({makeDib(24, 1, 1)});
    manager_.imageInfoFailsAt = 1; // before the second page
    startAcquisition();
    signal(MSG_XFERREADY);
    EXPECT_EQ(events_.pictures.size(), 1u);
    EXPECT_EQ(manager_.count(DAT_PENDINGXFERS, MSG_RESET), 1u);
    EXPECT_EQ(control().session().twainState(), 3);
    ASSERT_EQ(ends_.size(), 1u);
    EXPECT_EQ(ends_[0].reason, AcquisitionEnd::Reason::Failed);
    EXPECT_EQ(ends_[0].pages, 1);
}

TEST_F(TwainControlTest, PageHandlerCanStartTheNextAcquisition) {
    manager_.pages.push_back({makeDib(24, 1, 1)});
    startAcquisition();
    events_.onPicture = [&] {
        if (events_.pictures.size() == 1) {
            manager_.pages.push_back({makeDib(24, 2, 2)});
            ASSERT_EQ(control().SelectSource(false, 0), 1);
            ASSERT_TRUE(control().Acquire(false)); // starts from state 3
            signal(MSG_XFERREADY);                 // the nested page arrives here
        }
    };
    signal(MSG_XFERREADY);
    ASSERT_EQ(events_.pictures.size(), 2u);
    EXPECT_EQ(events_.pictures[0].width, 1); // the outer page stayed intact
    EXPECT_EQ(events_.pictures[1].width, 2);
    EXPECT_EQ(ends_.size(), 2u);
}

TEST_F(TwainControlTest, DestructionClosesEverythingInOrder) {
    startAcquisition();
    control_.reset();
    const std::vector<Call> tail(manager_.calls.end() - 3, manager_.calls.end());
    const std::vector<Call> expected = {
        {DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, 1},
        {DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, 0},
        {DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, 0},
    };
    EXPECT_EQ(tail, expected);
    EXPECT_TRUE(ends_.empty()); // no report while the control dies
}

} // namespace
} // namespace vantrel::test
