#include "harness.h"

#include "morvantis.h"
#include "sim_control.h"

TEST(LibraryLoadsAndBringsTheDefaultChannelUp)
{
    harness::Library library;
    CHECK(library.module() != nullptr);
    simReset();
    auto init = library.get<int32_t(__stdcall*)()>("CAN_Init");
    CHECK(init != nullptr);
    CHECK_EQ(init(), 0);
    CHECK_EQ(simOpenPortCount(), 1);
}

int main(int argc, char** argv)
{
    return harness::runAll(argc, argv);
}
