#include "driver/channel_catalogue.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace morvantis {
namespace {

struct Row {
    std::int32_t index;
    const char* name;
    std::int32_t type;
    std::int32_t hwIndex;
    std::int32_t hwChannel;
};

// Every row, so that a slip in any one of them shows.
const Row kRows[] = {
    {0, "Virtual C1", 1, 0, 0},       {1, "Virtual C2", 1, 0, 1},
    {2, "LAPcan(II) C1 S1", 2, 0, 0}, {3, "LAPcan(II) C2 S1", 2, 0, 1},
    {4, "LAPcan(II) C1 S2", 2, 1, 0}, {5, "LAPcan(II) C2 S2", 2, 1, 1},
    {6, "Leaf-USB", 48, 0, 0},        {7, "USBcan C1", 11, 0, 0},
    {8, "USBcan C2", 11, 0, 1},       {9, "USBcan II C1", 42, 0, 0},
    {10, "USBcan II C2", 42, 0, 1},   {11, "PCIcan C1", 9, 0, 0},
    {12, "PCIcan C2", 9, 0, 1},       {13, "PCIcan C3", 9, 0, 2},
    {14, "PCIcan C4", 9, 0, 3},       {15, "PCIcan II C1", 40, 0, 0},
    {16, "PCIcan II C2", 40, 0, 1},   {17, "PCIcan II C3", 40, 0, 2},
    {18, "PCIcan II C4", 40, 0, 3},   {19, nullptr, 0, -1, 0},
    {-1, nullptr, 0, -1, 0},          {INT32_MIN, nullptr, 0, -1, 0},
    {INT32_MAX, nullptr, 0, -1, 0},
};

// The whole 20-byte field: the name, then NUL bytes to the end.
std::string field(const NameField& name)
{
    return std::string(name.data(), name.size());
}

std::string padded(const std::string& name)
{
    return name + std::string(20 - name.size(), '\0');
}

TEST(ChannelCatalogue, LookupGivesTheDriversTripleOrTheNoChannelTriple)
{
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.index);
        const ChannelEntry& entry = LookupChannel(row.index);
        EXPECT_EQ(entry.hardwareType, row.type);
        EXPECT_EQ(entry.hardwareIndex, row.hwIndex);
        EXPECT_EQ(entry.hardwareChannel, row.hwChannel);
    }
}

TEST(ChannelCatalogue, NamesFillTheirFieldWithNulBytes)
{
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.index);
        // Outside the catalogue: no name, all 20 bytes NUL.
        EXPECT_EQ(field(LookupChannel(row.index).displayName), padded(row.name ? row.name : ""));
    }
    EXPECT_EQ(field(hardwareMaker), padded("Kvaser"));
}

} // namespace
} // namespace morvantis
