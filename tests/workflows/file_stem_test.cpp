#include "workflows/file_stem.h"

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

TEST(SavedPictureName, SameSecondSavesGetNumberedNames) {
    const std::filesystem::path folder = "/scans";
    EXPECT_EQ(savedPictureName(folder, "20180816090503", ".jpg", 1), "/scans/20180816090503.jpg");
    EXPECT_EQ(savedPictureName(folder, "20180816090503", ".jpg", 2), "/scans/20180816090503-2.jpg");
    EXPECT_EQ(savedPictureName(folder, "20180816090503", ".png", 3), "/scans/20180816090503-3.png");
}

} // namespace
} // namespace vantrel::workflows
