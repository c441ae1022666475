// CAN_DLL_Info and CAN_Status, byte by byte, on records the caller filled
// with 0xAA beforehand.
#include "fixture.h"

#include "morvantis.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <string>

namespace morvantis::testing {
namespace {

constexpr std::uint8_t kFill = 0xAA;

using Bytes = std::array<std::uint8_t, sizeof(CanDllInfo)>;

// The record as CAN_DLL_Info must leave it, for a 20-byte channel name
// field given as its text (the rest NUL).
Bytes expectedInfo(const std::string& channelName)
{
    Bytes bytes{};
    bytes[0] = 1;
    std::memcpy(&bytes[1], "1.00", 5);
    std::memcpy(&bytes[6], "???", 4);
    bytes[10] = kFill;
    std::memcpy(&bytes[11], channelName.data(), channelName.size());
    std::memcpy(&bytes[31], "Kvaser", 6);
    bytes[51] = '0';
    return bytes;
}

Bytes infoBytes()
{
    Bytes bytes;
    bytes.fill(kFill);
    CanDllInfo info;
    std::memcpy(&info, bytes.data(), bytes.size());
    EXPECT_EQ(CAN_DLL_Info(&info), 0);
    std::memcpy(bytes.data(), &info, bytes.size());
    return bytes;
}

using Information = LibraryTest;

TEST_F(Information, DllInfoWritesEveryByteButByte10)
{
    const struct {
        std::int32_t channelIndex;
        std::string name;
    } cases[] = {
        {2, "LAPcan(II) C1 S1"}, // the default
        {0, "Virtual C1"},
        {6, "Leaf-USB"},
        {18, "PCIcan II C4"},
        {19, ""}, // outside the catalogue: 20 NUL bytes
        {25, ""},
        {-1, ""},
        {INT32_MIN, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("channel index " + std::to_string(c.channelIndex));
        libraryState.settings.channelIndex = c.channelIndex;
        EXPECT_EQ(infoBytes(), expectedInfo(c.name));
    }
}

TEST_F(Information, DllInfoIsTheSameWhateverTheChannelState)
{
    const Bytes closed = infoBytes();
    ASSERT_EQ(CAN_Init(), 0);
    EXPECT_EQ(infoBytes(), closed);
    CAN_Exit();
    EXPECT_EQ(infoBytes(), closed);
}

std::array<std::int32_t, 16> statusValues()
{
    CanStatusRecord status;
    std::memset(&status, kFill, sizeof status);
    EXPECT_EQ(CAN_Status(&status), 0);
    std::array<std::int32_t, 16> values;
    std::memcpy(values.data(), &status, sizeof status);
    return values;
}

std::array<std::int32_t, 16> expectedStatus(std::int32_t bitrate)
{
    std::array<std::int32_t, 16> values;
    values.fill(-1);
    values[9] = bitrate;
    return values;
}

TEST_F(Information, StatusReportsTheBitrateSettingAndMinusOneElsewhere)
{
    EXPECT_EQ(statusValues(), expectedStatus(100));

    ASSERT_EQ(CAN_Bitrate(250), 0);
    EXPECT_EQ(statusValues(), expectedStatus(250));

    // The setting, not the bus: also when the restart with it failed.
    simSetStatus(SIM_SET_BITRATE, NCD_WRONG_PARAMETER);
    EXPECT_EQ(CAN_Bitrate(33), -1);
    EXPECT_EQ(statusValues(), expectedStatus(33));
}

TEST_F(Information, NullRecordsAreRefused)
{
    EXPECT_EQ(CAN_DLL_Info(nullptr), -1);
    EXPECT_EQ(CAN_Status(nullptr), -1);
    EXPECT_TRUE(calls().empty());
}

} // namespace
} // namespace morvantis::testing
