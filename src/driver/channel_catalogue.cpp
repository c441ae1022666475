#include "driver/channel_catalogue.h"

#include <string_view>

namespace morvantis {
namespace {

constexpr NameField nameField(std::string_view text)
{
    NameField field{};
    for (std::size_t i = 0; i < text.size() && i + 1 < field.size(); ++i) {
        field[i] = text[i];
    }
    return field;
}

} // namespace

// Hardware types: 1 virtual, 2 LAPcan(II), 48 Leaf-USB, 11 USBcan,
// 42 USBcan II, 9 PCIcan, 40 PCIcan II. "C<n>" is hardware channel n-1,
// "S<n>" hardware index n-1.
const std::array<ChannelEntry, kChannelCount> kChannelCatalogue = {{
    {nameField("Virtual C1"), 1, 0, 0},       {nameField("Virtual C2"), 1, 0, 1},
    {nameField("LAPcan(II) C1 S1"), 2, 0, 0}, {nameField("LAPcan(II) C2 S1"), 2, 0, 1},
    {nameField("LAPcan(II) C1 S2"), 2, 1, 0}, {nameField("LAPcan(II) C2 S2"), 2, 1, 1},
    {nameField("Leaf-USB"), 48, 0, 0},        {nameField("USBcan C1"), 11, 0, 0},
    {nameField("USBcan C2"), 11, 0, 1},       {nameField("USBcan II C1"), 42, 0, 0},
    {nameField("USBcan II C2"), 42, 0, 1},    {nameField("PCIcan C1"), 9, 0, 0},
    {nameField("PCIcan C2"), 9, 0, 1},        {nameField("PCIcan C3"), 9, 0, 2},
    {nameField("PCIcan C4"), 9, 0, 3},        {nameField("PCIcan II C1"), 40, 0, 0},
    {nameField("PCIcan II C2"), 40, 0, 1},    {nameField("PCIcan II C3"), 40, 0, 2},
    {nameField("PCIcan II C4"), 40, 0, 3},
}};

const NameField hardwareMaker = nameField("Kvaser");

const ChannelEntry& LookupChannel(std::int32_t index)
{
    static constexpr ChannelEntry kNoChannel{NameField{}, 0, -1, 0};
    // Unsigned, so that every negative index is outside too.
    if (static_cast<std::uint32_t>(index) >= kChannelCatalogue.size()) {
        return kNoChannel;
    }
    return kChannelCatalogue[static_cast<std::size_t>(index)];
}

} // namespace morvantis
