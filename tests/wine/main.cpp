// main() of the Windows test programs: GoogleTest, with standard output in
// binary mode, so that the lines end in LF alone and CTest reads the test
// list that --gtest_list_tests prints under Wine; and each test starts with
// no captured message boxes.
#include "fixture.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>

namespace {

class ForgetCapturedBoxes : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override { fixture::capturedBoxes().clear(); }
};

} // namespace

int main(int argc, char** argv)
{
    _setmode(_fileno(stdout), _O_BINARY);
    testing::InitGoogleTest(&argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new ForgetCapturedBoxes);
    return RUN_ALL_TESTS();
}
