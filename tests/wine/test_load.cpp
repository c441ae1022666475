// What the library holds right after LoadLibrary: the built-in defaults, or
// the settings file of the working directory as the Windows profile
// functions read it. Each case loads the library afresh and looks at the
// settings through CAN_Status, CAN_DLL_Info and the driver calls of a
// bring-up on the simulated bus.
#include "fixture.h"

#include <gtest/gtest.h>

#include "morvantis.h"
#include "sim_control.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr uint32_t kNoPort = 0xFFFFFFFFu;

struct SettingsCase {
    const char* what;
    const char* file; // the settings file, or nullptr for none
    int32_t hardware[3];
    const char* channelName;
    int32_t kbit;
    uint32_t standard[2]; // acceptance code, mask
    uint32_t extended[2];
};

DWORD WINAPI doNothing(void*)
{
    return 0;
}

std::string hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

void checkLoad(const SettingsCase& row)
{
    SCOPED_TRACE(row.what);
    fixture::WorkingDirectory directory;
    if (row.file != nullptr) {
        directory.writeFile("MORVANTIS.INI", row.file);
    }
    simReset();
    fixture::Library library;
    EXPECT_TRUE(library.fresh());
    EXPECT_TRUE(fixture::captureMessageBoxes(library.module()));

    CanStatusRecord status;
    EXPECT_EQ(library.get<decltype(&CAN_Status)>("CAN_Status")(&status), 0);
    EXPECT_EQ(status.value[MORVANTIS_STATUS_BITRATE], row.kbit);
    CanDllInfo info;
    EXPECT_EQ(library.get<decltype(&CAN_DLL_Info)>("CAN_DLL_Info")(&info), 0);
    char expectedName[20] = {}; // the name, then NUL bytes
    std::memcpy(expectedName, row.channelName, std::strlen(row.channelName));
    EXPECT_TRUE(std::memcmp(info.channelName, expectedName, sizeof expectedName) == 0);
    EXPECT_EQ(simCallCount(), 0); // loading calls no driver operation

    EXPECT_EQ(library.get<decltype(&CAN_Init)>("CAN_Init")(), 0);
    EXPECT_EQ(fixture::capturedBoxes().size(), 0u);
    const auto masks = fixture::driverCalls(SIM_GET_CHANNEL_MASK);
    const auto bitrates = fixture::driverCalls(SIM_SET_BITRATE);
    const auto filters = fixture::driverCalls(SIM_SET_ACCEPTANCE);
    EXPECT_EQ(masks.size(), 1u);
    EXPECT_EQ(bitrates.size(), 1u);
    EXPECT_EQ(filters.size(), 2u);
    if (masks.size() == 1 && bitrates.size() == 1 && filters.size() == 2) {
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(static_cast<int32_t>(masks[0].arg[i]), row.hardware[i]);
        }
        EXPECT_EQ(static_cast<int32_t>(bitrates[0].arg[2]), row.kbit * 1000);
        EXPECT_EQ(hex(filters[0].arg[2]), hex(row.standard[0]));
        EXPECT_EQ(hex(filters[0].arg[3]), hex(row.standard[1]));
        EXPECT_EQ(hex(filters[1].arg[2]), hex(row.extended[0]));
        EXPECT_EQ(hex(filters[1].arg[3]), hex(row.extended[1]));
    }
    library.get<decltype(&CAN_Exit)>("CAN_Exit")();
    EXPECT_EQ(directory.holds("MORVANTIS.INI"), row.file != nullptr); // loading writes nothing
}

} // namespace

TEST(Load, DefaultsAndSettingsFileAtLoad)
{
    // 81 characters, of which the profile read keeps 79: 78 zeros and "2".
    const std::string longValue = "[MORVANTIS]\r\nBITRATE=" + std::string(78, '0') + "250\r\n";
    const SettingsCase cases[] = {
        {"no settings file",
         nullptr,
         {2, 0, 0},
         "LAPcan(II) C1 S1",
         100,
         {0, 0},
         {0x80000000u, 0x80000000u}},
        {"all six keys",
         "[MORVANTIS]\r\nCHANNEL_INDEX=0\r\nBITRATE=250\r\nGLOBALMASKSTD=0x000007FF\r\n"
         "GLOBALCODESTD=0x00000123\r\nGLOBALMASKXTD=0x1FFFFFFF\r\nGLOBALCODEXTD=0x00000ABC\r\n",
         {1, 0, 0},
         "Virtual C1",
         250,
         {0x123, 0x7FF},
         {0x80000ABCu, 0x9FFFFFFFu}},
        {"only the bitrate",
         "[MORVANTIS]\r\nBITRATE=250\r\n",
         {2, 0, 0},
         "LAPcan(II) C1 S1",
         250,
         {0, 0},
         {0x80000000u, 0x80000000u}},
        {"keys of other sections are not read",
         "[OTHER]\r\nBITRATE=500\r\n[MORVANTIS]\r\nCHANNEL_INDEX=6\r\n",
         {48, 0, 0},
         "Leaf-USB",
         100,
         {0, 0},
         {0x80000000u, 0x80000000u}},
        {"bit 31 of an acceptance value survives",
         "[MORVANTIS]\r\nGLOBALMASKXTD=0x9FFFFFFF\r\nGLOBALCODEXTD=0x80000123\r\n",
         {2, 0, 0},
         "LAPcan(II) C1 S1",
         100,
         {0, 0},
         {0x80000123u, 0x9FFFFFFFu}},
        {"a value is read to its 79th character",
         longValue.c_str(),
         {2, 0, 0},
         "LAPcan(II) C1 S1",
         2,
         {0, 0},
         {0x80000000u, 0x80000000u}},
    };
    for (const SettingsCase& row : cases) {
        checkLoad(row);
    }
}

TEST(Load, ThreadsStartingAndEndingDoNotReadTheSettingsAgain)
{
    fixture::WorkingDirectory directory;
    directory.writeFile("MORVANTIS.INI", "[MORVANTIS]\r\nBITRATE=250\r\n");
    fixture::Library library;
    directory.writeFile("MORVANTIS.INI", "[MORVANTIS]\r\nBITRATE=500\r\n");
    // The loader calls the entry point for the thread's start and end.
    HANDLE thread = CreateThread(nullptr, 0, doNothing, nullptr, 0, nullptr);
    EXPECT_NE(thread, nullptr);
    if (thread != nullptr) {
        EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
        CloseHandle(thread);
    }
    CanStatusRecord status;
    library.get<decltype(&CAN_Status)>("CAN_Status")(&status);
    EXPECT_EQ(status.value[MORVANTIS_STATUS_BITRATE], 250);
}

TEST(Load, BeforeBringUpTheDriverIsCalledWithPortMinusOne)
{
    fixture::WorkingDirectory directory;
    simReset();
    fixture::Library library;
    CanMsg msg = {0x123, 1, 0, {0x55}};
    EXPECT_EQ(library.get<decltype(&CAN_Send_Msg)>("CAN_Send_Msg")(&msg), -1);
    EXPECT_EQ(library.get<decltype(&CAN_Read_Msg)>("CAN_Read_Msg")(&msg), -1);
    const auto calls = fixture::driverCalls();
    EXPECT_EQ(calls.size(), 2u);
    if (calls.size() == 2) {
        EXPECT_EQ(calls[0].op, SIM_TRANSMIT);
        EXPECT_EQ(hex(calls[0].arg[0]), hex(kNoPort));
        EXPECT_EQ(calls[0].arg[1], 0u); // no channel mask yet
        EXPECT_EQ(calls[1].op, SIM_RECEIVE);
        EXPECT_EQ(hex(calls[1].arg[0]), hex(kNoPort));
    }
}
