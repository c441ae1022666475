#include "fixture.h"

#include "driver/status_report.h"

namespace morvantis::testing {
namespace {

using StatusReport = LibraryTest;

struct Format {
    std::uint32_t status;
    const char* expected; // what follows "Step\n"
};

const Format kFormats[] = {
    {0, " !"},
    {10, " Reason: QUEUE_IS_EMPTY (code 10) !"},
    {11, " Reason: QUEUE_IS_FULL (code 11) !"},
    {12, " Reason: TX_NOT_POSSIBLE (code 12) !"},
    {101, " Reason: WRONG_PARAMETER (code 101) !"},
    {110, " Reason: TWICE_REGISTER (code 110) !"},
    {111, " Reason: INVALID_CHAN_INDEX (code 111) !"},
    {112, " Reason: INVALID_ACCESS (code 112) !"},
    {113, " Reason: PORT_IS_OFFLINE (e.g. CANCAB not connected) (code 113) !"},
    {116, " Reason: CHAN_IS_ONLINE (code 116) !"},
    {118, " Reason: INVALID_PORT (code 118) !"},
    {120, " Reason: HW_NOT_READY (code 120) !"},
    {121, " Reason: CMD_TIMEOUT (code 121) !"},
    {129, " Reason: HW_NOT_PRESENT (code 129) !"},
    {131, " Reason: NOTIFY_ALREADY_ACTIVE (code 131) !"},
    {201, " Reason: CANNOT_OPEN_DRIVER (code 201) !"},
    // No row of their own.
    {5, " Reason: unknown (code 5) !"},
    {200, " Reason: unknown (code 200) !"},
    {0xFFFF, " Reason: unknown (code -1) !"},
    {0x8000, " Reason: unknown (code -32768) !"},
    {static_cast<std::uint32_t>(-5), " Reason: unknown (code -5) !"},
    // Only the low 16 bits count.
    {0x10065, " Reason: WRONG_PARAMETER (code 101) !"},
    {0xABCD0071, " Reason: PORT_IS_OFFLINE (e.g. CANCAB not connected) (code 113) !"},
    {0x12340000, " !"},
};

TEST_F(StatusReport, FormatsTheStatusUnderTheStepsText)
{
    for (const Format& format : kFormats) {
        SCOPED_TRACE(format.status);
        boxes.clear();
        ReportDriverStatus(format.status, "Could not OpenPort");
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, std::string("Could not OpenPort\n") + format.expected);
        EXPECT_EQ(boxes[0].caption, "morvantis.dll");
        EXPECT_EQ(boxes[0].owner, nullptr);
    }
}

TEST_F(StatusReport, BoxesHaveAnOwnerOnlyWhileOneIsSet)
{
    int dialog = 0;
    int nested = 0;
    {
        StatusBoxOwner owner(&dialog);
        ReportDriverStatus(113, "Could not ActivateChannel");
        {
            StatusBoxOwner inner(&nested);
            ReportDriverStatus(113, "Could not ActivateChannel");
        }
        ReportDriverStatus(113, "Could not ActivateChannel");
    }
    ReportDriverStatus(113, "Could not ActivateChannel");
    ASSERT_EQ(boxes.size(), 4u);
    EXPECT_EQ(boxes[0].owner, &dialog);
    EXPECT_EQ(boxes[1].owner, &nested);
    EXPECT_EQ(boxes[2].owner, &dialog);
    EXPECT_EQ(boxes[3].owner, nullptr);
}

} // namespace
} // namespace morvantis::testing
