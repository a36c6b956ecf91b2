// The messages between the source manager and its scanner helper: fields read back as written,
// a damaged payload is refused rather than read past its end, and a page's memfd travels with
// its message.

#include "platform/twain/helper_protocol.h"
#include "platform/twain/option_table.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vantrel::twain::helper {
namespace {

TEST(HelperMessages, FieldsReadBackAsWrittenAndATruncatedPayloadFailsTheReader) {
    const auto payload =
        MessageWriter().u8(7).u32(70000).i32(-5).u64(1ull << 40).f64(2.5).text("Gray").take();
    MessageReader in(payload);
    EXPECT_EQ(in.u8(), 7);
    EXPECT_EQ(in.u32(), 70000u);
    EXPECT_EQ(in.i32(), -5);
    EXPECT_EQ(in.u64(), 1ull << 40);
    EXPECT_EQ(in.f64(), 2.5);
    EXPECT_EQ(in.text(), "Gray");
    EXPECT_TRUE(in.atEnd());

    // Every cut of the payload fails somewhere, and nothing reads past the cut.
    for (std::size_t cut = 0; cut < payload.size(); ++cut) {
        const std::vector<std::uint8_t> part(payload.begin(), payload.begin() + cut);
        MessageReader r(part);
        r.u8(), r.u32(), r.i32(), r.u64(), r.f64(), r.text();
        EXPECT_FALSE(r.ok()) << cut;
    }
    // A text that claims more bytes than there are.
    const auto lying = MessageWriter().u32(1000).bytes("abc", 3).take();
    MessageReader r(lying);
    EXPECT_EQ(r.text(), "");
    EXPECT_FALSE(r.ok());
}

TEST(HelperMessages, OptionTableRoundTripsAndAWrongCountIsRefused) {
    OptionInfo mode;
    mode.name = "mode";
    mode.type = OptionInfo::Type::String;
    mode.active = mode.settable = true;
    mode.limit = OptionInfo::Limit::Texts;
    mode.texts = {"Gray", "Color"};
    mode.text = "Gray";
    OptionInfo resolution;
    resolution.name = "resolution";
    resolution.type = OptionInfo::Type::Fixed;
    resolution.unit = OptionInfo::Unit::Dpi;
    resolution.active = true;
    resolution.limit = OptionInfo::Limit::Range;
    resolution.min = 1;
    resolution.max = 1200;
    resolution.quant = 1;
    resolution.number = 300;
    MessageWriter out;
    OptionTable({mode, resolution}).write(out);
    const auto bytes = out.take();
    MessageReader in(bytes);
    const auto table = OptionTable::read(in);
    ASSERT_TRUE(table);
    EXPECT_EQ(table->text("mode"), "Gray");
    EXPECT_EQ(table->textChoices("mode"), (std::vector<std::string>{"Gray", "Color"}));
    EXPECT_EQ(table->number("resolution"), 300.0);
    EXPECT_EQ(table->find("resolution")->max, 1200.0);
    EXPECT_FALSE(table->has("depth"));

    auto damaged = bytes;
    damaged[0] = 0xFF; // claims far more options than follow
    MessageReader bad(damaged);
    EXPECT_FALSE(OptionTable::read(bad));
}

TEST(HelperMessages, APageDescriptorTravelsWithItsMessage) {
    int ends[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, ends), 0);
    const int page = memfd_create("page", 0);
    ASSERT_GE(page, 0);
    ASSERT_EQ(write(page, "BM", 2), 2);
    Message sent;
    sent.kind = Kind::Page;
    sent.number = 0;
    sent.payload = MessageWriter().u64(2).take();
    sent.fd = page;
    ASSERT_TRUE(sendMessage(ends[0], sent));
    close(page);
    const auto got = receiveMessage(ends[1]);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->kind, Kind::Page);
    ASSERT_GE(got->fd, 0);
    char bytes[2] = {};
    EXPECT_EQ(pread(got->fd, bytes, 2, 0), 2);
    EXPECT_EQ(std::string(bytes, 2), "BM");
    close(got->fd);

    // A packet shorter than a message head, and a closed peer: nothing.
    ASSERT_EQ(send(ends[0], "abc", 3, 0), 3);
    EXPECT_FALSE(receiveMessage(ends[1]));
    close(ends[0]);
    EXPECT_FALSE(receiveMessage(ends[1]));
    close(ends[1]);
}

} // namespace
} // namespace vantrel::twain::helper
