#include "workflows/file_stem.h"

#include "tests/support/sandbox.h"

#include <gtest/gtest.h>

namespace vantrel::workflows {
namespace {

std::tm at(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

TEST(MakeFileStem, FourteenDigitsWithLeadingZeros) {
    EXPECT_EQ(MakeFileStem(at(2018, 8, 16, 9, 5, 3)), "20180816090503");
    EXPECT_EQ(MakeFileStem(at(2026, 12, 31, 23, 59, 59)), "20261231235959");
    EXPECT_EQ(MakeFileStem(at(1000, 1, 1, 0, 0, 0)), "10000101000000");
}

TEST(FreeTargetPath, SameSecondSavesGetNumberedNames) {
    test::Sandbox sandbox;
    EXPECT_EQ(freeTargetPath(sandbox.path(), "20180816090503", ".jpg"),
              sandbox / "20180816090503.jpg");
    sandbox.write("20180816090503.jpg", "first");
    EXPECT_EQ(freeTargetPath(sandbox.path(), "20180816090503", ".jpg"),
              sandbox / "20180816090503-2.jpg");
    sandbox.write("20180816090503-2.jpg", "second");
    EXPECT_EQ(freeTargetPath(sandbox.path(), "20180816090503", ".jpg"),
              sandbox / "20180816090503-3.jpg");
    // Another format of the same second is a different name.
    EXPECT_EQ(freeTargetPath(sandbox.path(), "20180816090503", ".png"),
              sandbox / "20180816090503.png");
}

} // namespace
} // namespace vantrel::workflows
