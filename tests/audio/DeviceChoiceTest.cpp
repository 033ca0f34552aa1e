#include "audio/DeviceChoice.h"

#include <gtest/gtest.h>

namespace {

TEST(DeviceChoice, ResolvesToAListPositionOrTheDefault)
{
    const std::vector<AudioDeviceInfo> devices = {{"Mic", "mic"}, {"Line", "line"}, {"Mic", "mic-2"}};
    struct Case {
        int32_t position;
        const char* id;
        int32_t expected; // -1: the default device
    };
    const Case cases[] = {
        {-1, "line", 1},  // the identifier wins
        {0, "line", 1},   // over a position that names another device
        {2, "mic", 0},    // same display name, told apart by the identifier
        {0, "gone", -1},  // an unplugged device falls back to the default, not the position
        {-1, "gone", -1},
        {2, "", 2},       // no identifier: the position
        {0, "", 0},
        {3, "", -1},      // past the end
        {-1, "", -1},     // the default itself
        {-5, "", -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ResolveDevicePosition({c.position, c.id}, devices), c.expected)
            << "position " << c.position << " id '" << c.id << "'";
    }
    EXPECT_EQ(ResolveDevicePosition({0, ""}, {}), -1);
    EXPECT_EQ(ResolveDevicePosition({-1, "mic"}, {}), -1);
}

TEST(DeviceChoice, AnIdentifierFallsBackToTheDefaultDeviceOnly)
{
    EXPECT_EQ((DeviceChoice{3, "line"}).FallbackPosition(), -1);
    EXPECT_EQ((DeviceChoice{3, ""}).FallbackPosition(), 3);
    EXPECT_EQ((DeviceChoice{}).FallbackPosition(), -1);
}

} // namespace
