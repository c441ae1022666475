#include "fixture.h"

#include "morvantis.h"

namespace morvantis::testing {
namespace {

using BringUp = LibraryTest;

TEST_F(BringUp, DefaultsPutTheDefaultChannelOnTheBus)
{
    EXPECT_EQ(CAN_Init(), 0);
    EXPECT_EQ(calls(), (std::vector<std::string>{
                           "OPEN_DRIVER() = 0",
                           "GET_CHANNEL_MASK(2, 0, 0) = 0x4",
                           "OPEN_PORT(MORVANTIS, 0x4, 0x4, 1024 -> 0, 0x4) = 0",
                           "SET_BITRATE(0, 0x4, 100000) = 0",
                           "SET_OUTPUT(0, 0x4, 1) = 0",
                           "SET_ACCEPTANCE(0, 0x4, 0x0/0x0) = 0",
                           "SET_ACCEPTANCE(0, 0x4, 0x80000000/0x80000000) = 0",
                           "SET_MODE(0, 0x4, 0, 0) = 0",
                           "ACTIVATE(0, 0x4) = 0",
                       }));
    EXPECT_TRUE(boxes.empty());
}

} // namespace
} // namespace morvantis::testing
