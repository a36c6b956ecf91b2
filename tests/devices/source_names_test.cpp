// Names of scanners in the device list: model and place within 32 bytes, never two alike, the
// same from run to run whatever else is connected.

#include "platform/twain/source_names.h"

#include <gtest/gtest.h>

namespace vantrel::twain {
namespace {

struct LocationCase {
    const char* saneName;
    const char* location;
};

TEST(SourceLocation, HostForNetworkScannersUsbForUsbOnesElseTheName) {
    const LocationCase cases[] = {
        {"test:0", "test:0"},
        {"net:127.0.0.2:test:1", "127.0.0.2 test:1"},
        {"net:scanhost:genesys:libusb:001:005", "scanhost USB"},
        {"net:[::1]:test:0", "[::1] test:0"},
        {"genesys:libusb:001:005", "USB"},
        {"hpaio:/usb/Deskjet_F4100?serial=CN0", "USB"},
        {"airscan:e0:Canon MF740C", "airscan:e0:Canon MF740C"},
        {"net:", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sourceLocation(c.saneName), c.location) << c.saneName;
    }
}

struct NameCase {
    const char* saneName;
    const char* model;
    const char* name;
};

TEST(SourceName, ModelAndPlaceWithinThirtyTwoBytes) {
    const NameCase cases[] = {
        {"test:0", "frontend-tester", "frontend-tester (test:0)"},
        {"net:127.0.0.2:test:0", "frontend-tester", "frontend-test (127.0.0.2 test:0)"},
        {"genesys:libusb:001:005", "CanoScan LiDE 220", "CanoScan LiDE 220 (USB)"},
        {"test:0", "", "test:0 (test:0)"},
        // UTF-8 is cut between characters, never inside one.
        {"genesys:libusb:001:005", "扫描仪扫描仪扫描仪扫描仪", "扫描仪扫描仪扫描 (USB)"},
    };
    for (const auto& c : cases) {
        const std::string name = sourceNameFor(c.saneName, c.model, {});
        EXPECT_EQ(name, c.name) << c.saneName;
        EXPECT_LE(name.size(), kSourceNameBytes);
    }
}

TEST(SourceName, TwoDevicesNeverLookAlikeAndKeepTheirNames) {
    // Two USB scanners of one model: the second gets a tag from its own SANE name.
    const std::string first = sourceNameFor("genesys:libusb:001:005", "CanoScan LiDE 220", {});
    const std::string second =
        sourceNameFor("genesys:libusb:001:007", "CanoScan LiDE 220", {first});
    EXPECT_NE(first, second);
    EXPECT_EQ(second, sourceNameFor("genesys:libusb:001:007", "CanoScan LiDE 220", {first}));
    EXPECT_LE(second.size(), kSourceNameBytes);
    // A model name too long for any place: tags keep them apart, however many there are.
    const std::string model(40, 'M');
    std::set<std::string> taken;
    for (int i = 0; i < 5; ++i) {
        const std::string name =
            sourceNameFor("net:host" + std::to_string(i) + ":x:0", model, taken);
        EXPECT_LE(name.size(), kSourceNameBytes);
        EXPECT_TRUE(taken.insert(name).second) << name;
    }
}

} // namespace
} // namespace vantrel::twain
