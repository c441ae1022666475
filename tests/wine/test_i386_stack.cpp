// The 32-bit calling convention at the binary level: every export of
// morvantis.dll, and every driver operation of the simulated VCAND32.DLL
// that the library imports, removes exactly its own arguments from the
// stack. Each function is called through its GetProcAddress pointer with
// six dwords pushed, and the stack pointer is compared before and after.
#include "fixture.h"

#include <gtest/gtest.h>

#include "driver/vcand32_records.h"

#include "morvantis.h"
#include "sim_control.h"

#include <cstddef>
#include <initializer_list>
#include <string>

static_assert(sizeof(void*) == 4, "built for 32-bit Windows only");

namespace {

using Event = morvantis::DriverEvent;

constexpr int kPushedWords = 6;

// One call as the assembly below makes it. args[0] is pushed last, so it
// is the first argument; the words beyond the function's own arguments
// lie in the caller's part of the stack and are never read.
struct StackCall {
    FARPROC function;
    uint32_t args[kPushedWords];
    uint32_t before; // stack pointer before the pushes
    uint32_t after;  // stack pointer after the call returned
    uint32_t result;
};
static_assert(offsetof(StackCall, function) == 0, "layout used by the assembly");
static_assert(offsetof(StackCall, args) == 4, "layout used by the assembly");
static_assert(offsetof(StackCall, before) == 28, "layout used by the assembly");
static_assert(offsetof(StackCall, after) == 32, "layout used by the assembly");
static_assert(offsetof(StackCall, result) == 36, "layout used by the assembly");

// Bytes of arguments the function removed. EBX, which every function must
// preserve, addresses the record; the stack pointer is restored from it.
int bytesRemoved(StackCall& call)
{
    asm volatile("movl %%esp, 28(%%ebx)\n\t"
                 "pushl 24(%%ebx)\n\t"
                 "pushl 20(%%ebx)\n\t"
                 "pushl 16(%%ebx)\n\t"
                 "pushl 12(%%ebx)\n\t"
                 "pushl 8(%%ebx)\n\t"
                 "pushl 4(%%ebx)\n\t"
                 "call *(%%ebx)\n\t"
                 "movl %%esp, 32(%%ebx)\n\t"
                 "movl %%eax, 36(%%ebx)\n\t"
                 "movl 28(%%ebx), %%esp\n\t"
                 :
                 : "b"(&call)
                 : "eax", "ecx", "edx", "memory", "cc");
    return static_cast<int>(call.after - (call.before - 4 * kPushedWords));
}

uint32_t word(const void* pointer)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer));
}

// Calls `name` of `module` with `args` and notes in `problems` when it
// removes other than `expected` bytes. The function's result.
uint32_t expectRemoves(HMODULE module, const char* name, int expected,
                       std::initializer_list<uint32_t> args, std::string& problems)
{
    StackCall call{};
    call.function = GetProcAddress(module, name);
    if (call.function == nullptr) {
        problems += std::string(name) + " not found; ";
        return 0;
    }
    int index = 0;
    for (const uint32_t arg : args) {
        call.args[index++] = arg;
    }
    const int removed = bytesRemoved(call);
    if (removed != expected) {
        problems += std::string(name) + " removes " + std::to_string(removed) + " bytes, not " +
                    std::to_string(expected) + "; ";
    }
    return call.result;
}

} // namespace

TEST(StackCleanUp, EachExportRemovesItsArguments)
{
    fixture::WorkingDirectory directory;
    simReset();
    fixture::Library library;
    EXPECT_TRUE(fixture::captureMessageBoxes(library.module()));
    const HMODULE dll = library.module();
    CanMsg msg = {0x123, 2, 0, {1, 2}};
    CanExtMsg extMsg = {0x80000123u, 2, 0, {1, 2}};
    CanDllInfo info;
    CanStatusRecord status;
    const uint32_t notAWindow = 0x12345; // the dialog fails at once without a valid owner
    std::string problems;
    EXPECT_EQ(expectRemoves(dll, "CAN_Init", 0, {}, problems), 0u); // the channel is up
    EXPECT_EQ(expectRemoves(dll, "CAN_Send_Msg", 4, {word(&msg)}, problems), 0u);
    expectRemoves(dll, "CAN_Send_RTR", 4, {word(&msg)}, problems);
    expectRemoves(dll, "CAN_Send_extMsg", 4, {word(&extMsg)}, problems);
    expectRemoves(dll, "CAN_Send_extRTR", 4, {word(&extMsg)}, problems);
    expectRemoves(dll, "CAN_Read_Msg", 4, {word(&msg)}, problems);
    expectRemoves(dll, "CAN_Read_extMsg", 4, {word(&extMsg)}, problems);
    expectRemoves(dll, "CAN_Bitrate", 4, {125}, problems);
    expectRemoves(dll, "CAN_Reset", 0, {}, problems);
    expectRemoves(dll, "CAN_Init_One_ID", 8, {250, 0x123}, problems);
    expectRemoves(dll, "CAN_DLL_Info", 4, {word(&info)}, problems);
    expectRemoves(dll, "CAN_Status", 4, {word(&status)}, problems);
    expectRemoves(dll, "CAN_InterfaceSetup", 4, {notAWindow}, problems);
    expectRemoves(dll, "CAN_Exit", 0, {}, problems);
    EXPECT_EQ(problems, "");
}

TEST(StackCleanUp, EachDriverOperationRemovesItsArguments)
{
    simReset();
    const HMODULE driver = GetModuleHandleA("VCAND32.DLL");
    EXPECT_NE(driver, nullptr);
    int32_t port = -1;
    uint32_t permission = 0;
    uint32_t filter[2] = {0, 0};
    Event event = {10, {}, 0x123, 0, 1, {0x42}};
    Event* received = nullptr;
    std::string problems;
    expectRemoves(driver, "ncdOpenDriver", 0, {}, problems);
    const uint32_t mask = expectRemoves(driver, "ncdGetChannelMask", 12, {1, 0, 1}, problems);
    EXPECT_TRUE(mask != 0);
    expectRemoves(driver, "ncdOpenPort", 24,
                  {word(&port), word("STACK"), mask, mask, word(&permission), 16}, problems);
    const uint32_t handle = static_cast<uint32_t>(port);
    expectRemoves(driver, "ncdSetChannelBitrate", 12, {handle, mask, 100000}, problems);
    expectRemoves(driver, "ncdSetChannelOutput", 12, {handle, mask, 1}, problems);
    expectRemoves(driver, "ncdSetChannelAcceptance", 12, {handle, mask, word(filter)}, problems);
    expectRemoves(driver, "ncdSetChannelMode", 16, {handle, mask, 0, 0}, problems);
    expectRemoves(driver, "ncdActivateChannel", 8, {handle, mask}, problems);
    expectRemoves(driver, "ncdTransmit", 12, {handle, mask, word(&event)}, problems);
    expectRemoves(driver, "ncdReceive1", 8, {handle, word(&received)}, problems);
    expectRemoves(driver, "ncdClosePort", 4, {handle}, problems);
    expectRemoves(driver, "ncdCloseDriver", 0, {}, problems);
    EXPECT_EQ(problems, "");
    EXPECT_TRUE(port != -1); // the arguments reached the driver
}
