#include "platform/text_encoding.h"

#include <gtest/gtest.h>

namespace vantrel::platform {
namespace {

struct ConversionCase {
    const char* name;
    std::string_view utf8;
    std::string_view gb18030;
    friend void PrintTo(const ConversionCase& row, std::ostream* out) { *out << row.name; }
};

class Gb18030Conversion : public ::testing::TestWithParam<ConversionCase> {};

TEST_P(Gb18030Conversion, BothWays) {
    const ConversionCase& row = GetParam();
    EXPECT_EQ(utf8ToGb18030(row.utf8), std::string(row.gb18030));
    EXPECT_EQ(gb18030ToUtf8(row.gb18030), row.utf8);
}

INSTANTIATE_TEST_SUITE_P(
    TextEncoding, Gb18030Conversion,
    ::testing::Values(ConversionCase{"Ascii", "a=b; [c]", "a=b; [c]"},
                      ConversionCase{
                          "Gbk", "设置 打印份数：2",
                          "\xC9\xE8\xD6\xC3 \xB4\xF2\xD3\xA1\xB7\xDD\xCA\xFD\xA3\xBA\x32"},
                      ConversionCase{"Euro", "€", "\xA2\xE3"},
                      ConversionCase{"OutsideBmp", "\U00020000", "\x95\x32\x82\x36"},
                      ConversionCase{"Empty", "", ""}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(TextEncoding, BadGb18030BecomesReplacementCharacters) {
    EXPECT_EQ(gb18030ToUtf8("a\xFF\x62"), "a\uFFFDb");
    EXPECT_EQ(gb18030ToUtf8("\xC9\xE8\xC9"), "设\uFFFD");
    EXPECT_EQ(gb18030ToUtf8("\x80\x80"), "\uFFFD\uFFFD");
    EXPECT_EQ(gb18030ToUtf8("\x81\x30x"), "\uFFFD0x"); // 81 30 starts an unfinished 4-byte code
}

TEST(TextEncoding, InvalidUtf8IsRefusedOrReplaced) {
    for (const std::string_view bad :
         {"\xFF", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE8\xAE", "a\x80"}) {
        EXPECT_FALSE(isValidUtf8(bad)) << testing::PrintToString(bad);
        EXPECT_EQ(utf8ToGb18030(bad), std::nullopt) << testing::PrintToString(bad);
        EXPECT_TRUE(isValidUtf8(sanitizeUtf8(bad))) << testing::PrintToString(bad);
    }
    EXPECT_EQ(sanitizeUtf8("a\xFF设"), "a\uFFFD设");
}

TEST(TextEncoding, CharacterLengths) {
    EXPECT_EQ(gb18030CharLength("\x81\x30\x81\x30", 0), 4U);
    EXPECT_EQ(gb18030CharLength("\x81\x5D", 0), 2U);     // trail byte ']'
    EXPECT_EQ(gb18030CharLength("\x81\x7F", 0), 1U);     // 0x7F is no trail byte
    EXPECT_EQ(gb18030CharLength("\x81\x30\x81", 0), 1U); // cut short
    EXPECT_EQ(gb18030CharLength("\xFF\x40", 0), 1U);
    EXPECT_EQ(gb18030CharLength("a\xC9", 1), 1U);
    EXPECT_EQ(utf8CharLength("\xF0\xA0\x80\x80", 0), 4U);
    EXPECT_EQ(utf8CharLength("\xE8\xAE", 0), 1U);
}

} // namespace
} // namespace vantrel::platform
