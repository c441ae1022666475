// The export table of the real morvantis.dll as the Windows loader sees it,
// and what loading and unloading the library do.
#include "fixture.h"

#include <gtest/gtest.h>

#include "morvantis.h"
#include "sim_control.h"

#include <string>

namespace {

// In the order of their ordinals, 1 to 14.
constexpr const char* kExports[] = {
    "CAN_Init",           "CAN_Exit",     "CAN_Reset",       "CAN_Bitrate",     "CAN_Read_Msg",
    "CAN_Send_Msg",       "CAN_Send_RTR", "CAN_Read_extMsg", "CAN_Send_extMsg", "CAN_Send_extRTR",
    "CAN_InterfaceSetup", "CAN_DLL_Info", "CAN_Status",      "CAN_Init_One_ID",
};

} // namespace

TEST(Exports, EveryExportIsFoundByNameAndByItsOrdinal)
{
    fixture::WorkingDirectory directory;
    fixture::Library library;
    std::string problems;
    for (int ordinal = 1; ordinal <= 14; ++ordinal) {
        const char* name = kExports[ordinal - 1];
        const FARPROC byName = library.byName(name);
        const FARPROC byOrdinal = library.byOrdinal(ordinal);
        if (byName == nullptr) {
            problems += std::string(name) + " not found by name; ";
        }
        if (byOrdinal == nullptr || byOrdinal != byName) {
            problems += std::string(name) + " is not ordinal " + std::to_string(ordinal) + "; ";
        }
    }
    EXPECT_EQ(problems, "");
    EXPECT_TRUE(library.byOrdinal(15) == nullptr);
}

TEST(Exports, UnloadingLeavesTheChannelAsTheApplicationLeftIt)
{
    fixture::WorkingDirectory directory;
    simReset();
    {
        fixture::Library library;
        EXPECT_TRUE(library.fresh());
        EXPECT_EQ(library.get<decltype(&CAN_Init)>("CAN_Init")(), 0);
        simClearCalls();
    }
    EXPECT_TRUE(GetModuleHandleA("morvantis.dll") == nullptr);
    EXPECT_EQ(simCallCount(), 0);
    EXPECT_EQ(simOpenPortCount(), 1);
    EXPECT_EQ(simDriverOpenCount(), 1);
}
