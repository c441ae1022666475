// The fixture of the native tests: the library's state as at load, a fresh
// simulated bench, message boxes collected instead of shown, and a
// temporary working directory of the test's own for settings files.
#pragma once

#include "platform/host/host_port.h"
#include "sim_control.h"
#include "state/library_state.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace morvantis::testing {

class LibraryTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The driver calls since the last clearCalls(), one line each, such as
    // "SET_BITRATE(0, 0x4, 100000) = 0".
    std::vector<std::string> calls() const;
    // The raw log entries of one kind of call.
    std::vector<SimCall> callsOf(SimOp op) const;

    // The boxes shown since the test started.
    std::vector<host::MessageBoxCall> boxes;

    std::filesystem::path directory; // the working directory of the test
    std::filesystem::path settingsFile() const { return directory / "MORVANTIS.INI"; }
    void writeSettingsFile(const std::string& text) const;
    std::string readSettingsFile() const;

private:
    std::filesystem::path previousDirectory_;
};

// One log entry as a line (see LibraryTest::calls).
std::string describe(const SimCall& call);

} // namespace morvantis::testing
