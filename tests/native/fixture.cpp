#include "fixture.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace morvantis::testing {
namespace {

const char* opName(std::int32_t op)
{
    static const char* const names[SIM_OP_COUNT] = {
        "OPEN_DRIVER", "CLOSE_DRIVER", "GET_CHANNEL_MASK", "OPEN_PORT",
        "CLOSE_PORT",  "SET_BITRATE",  "SET_OUTPUT",       "SET_ACCEPTANCE",
        "SET_MODE",    "ACTIVATE",     "RECEIVE",          "TRANSMIT"};
    return op >= 0 && op < SIM_OP_COUNT ? names[op] : "?";
}

std::string hex(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

} // namespace

std::string describe(const SimCall& call)
{
    const auto s = [](std::uint32_t v) { return std::to_string(static_cast<std::int32_t>(v)); };
    std::string args;
    switch (call.op) {
    case SIM_GET_CHANNEL_MASK:
        args = s(call.arg[0]) + ", " + s(call.arg[1]) + ", " + s(call.arg[2]);
        return std::string(opName(call.op)) + "(" + args + ") = " + hex(call.result);
    case SIM_OPEN_PORT:
        args = std::string(call.name) + ", " + hex(call.arg[1]) + ", " + hex(call.arg[2]) + ", " +
               s(call.arg[4]) + " -> " + s(call.arg[0]) + ", " + hex(call.arg[3]);
        break;
    case SIM_CLOSE_PORT:
    case SIM_RECEIVE:
        args = s(call.arg[0]);
        break;
    case SIM_SET_BITRATE:
    case SIM_SET_OUTPUT:
        args = s(call.arg[0]) + ", " + hex(call.arg[1]) + ", " + s(call.arg[2]);
        break;
    case SIM_SET_ACCEPTANCE:
        args = s(call.arg[0]) + ", " + hex(call.arg[1]) + ", " + hex(call.arg[2]) + "/" +
               hex(call.arg[3]);
        break;
    case SIM_SET_MODE:
        args = s(call.arg[0]) + ", " + hex(call.arg[1]) + ", " + s(call.arg[2]) + ", " +
               s(call.arg[3]);
        break;
    case SIM_ACTIVATE:
    case SIM_TRANSMIT:
        args = s(call.arg[0]) + ", " + hex(call.arg[1]);
        break;
    default:
        break;
    }
    return std::string(opName(call.op)) + "(" + args + ") = " + s(call.result);
}

void LibraryTest::SetUp()
{
    libraryState = LibraryState{};
    host::ResetHostPort();
    simReset();
    host::SetMessageBoxHandler([this](const host::MessageBoxCall& box) { boxes.push_back(box); });

    previousDirectory_ = std::filesystem::current_path();
    std::string pattern = (std::filesystem::temp_directory_path() / "morvantis-test-XXXXXX");
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    directory = pattern;
    std::filesystem::current_path(directory);
}

void LibraryTest::TearDown()
{
    host::ResetHostPort();
    std::filesystem::current_path(previousDirectory_);
    std::filesystem::remove_all(directory);
}

std::vector<std::string> LibraryTest::calls() const
{
    std::vector<std::string> lines;
    SimCall call;
    for (std::int32_t i = 0; simGetCall(i, &call); ++i) {
        lines.push_back(describe(call));
    }
    return lines;
}

std::vector<SimCall> LibraryTest::callsOf(SimOp op) const
{
    std::vector<SimCall> found;
    SimCall call;
    for (std::int32_t i = 0; simGetCall(i, &call); ++i) {
        if (call.op == op) {
            found.push_back(call);
        }
    }
    return found;
}

void LibraryTest::writeSettingsFile(const std::string& text) const
{
    std::ofstream(settingsFile(), std::ios::binary) << text;
}

std::string LibraryTest::readSettingsFile() const
{
    std::ifstream file(settingsFile(), std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

} // namespace morvantis::testing
