// The export table of the real morvantis.dll as the Windows loader sees it,
// and what loading and unloading the library do.
#include "harness.h"

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

TEST(EveryExportIsFoundByNameAndByItsOrdinal)
{
    harness::WorkingDirectory directory;
    harness::Library library;
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
    CHECK_STR(problems, "");
    CHECK(library.byOrdinal(15) == nullptr);
}

TEST(UnloadingLeavesTheChannelAsTheApplicationLeftIt)
{
    harness::WorkingDirectory directory;
    simReset();
    {
        harness::Library library;
        CHECK(library.fresh());
        CHECK_EQ(library.get<decltype(&CAN_Init)>("CAN_Init")(), 0);
        simClearCalls();
    }
    CHECK(GetModuleHandleA("morvantis.dll") == nullptr);
    CHECK_EQ(simCallCount(), 0);
    CHECK_EQ(simOpenPortCount(), 1);
    CHECK_EQ(simDriverOpenCount(), 1);
}

int main(int argc, char** argv)
{
    return harness::runAll(argc, argv);
}
