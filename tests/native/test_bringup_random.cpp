// Long random sequences of bring-up, teardown and exchange calls, with the
// driver's answers scripted at random in between, against a small model of
// the channel's states: closed, open without init access, up.
#include "fixture.h"

#include "driver/vcand32_records.h"
#include "morvantis.h"

#include <climits>
#include <cstdio>
#include <random>

namespace morvantis::testing {
namespace {

using Lines = std::vector<std::string>;

std::string hex(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

std::string dec(std::int64_t value)
{
    return std::to_string(value);
}

struct OpenPortAnswer {
    const char* name;
    bool scripted; // simScriptOpenPort, else simSetStatus
    std::uint16_t status;
    std::int32_t handle;
    std::uint32_t permission;
};

// How the bench answers ncdOpenPort. Each opens at most a port the library
// then owns, so that the library's port is the only one at the bench.
const OpenPortAnswer kOpenPortAnswers[] = {
    {"as usual", false, 0, -1, 0},
    {"as usual", false, 0, -1, 0},
    {"refused 0xFFFF", false, 0xFFFF, -1, 0},
    {"refused 5", false, 5, -1, 0},
    {"status 0, no handle", true, 0, -1, 0x4},
    {"status 5, handle 3", true, 5, 3, 0x4},
    {"no init access, handle 3", true, 0, 3, 0},
    {"no init access, handle 0", true, 0, 0, 0},
};

// The library's channel and the bench's answers, as the model sees them.
class Model {
public:
    // Bench.
    std::uint16_t status[SIM_OP_COUNT] = {};
    OpenPortAnswer openPort = kOpenPortAnswers[0];
    std::uint32_t benchMask = 0x4; // for catalogue entry 2
    std::uint32_t portAccess = 0;
    bool portActive = false;
    std::int32_t queued = 0;

    // Library.
    std::int32_t port = -1;
    bool initialised = false;
    bool withoutInitAccess = false;
    std::uint32_t channelMask = 0;
    std::uint32_t permissionMask = 0;
    std::int32_t bitrate = 100;

    // What the current step is expected to do.
    Lines calls;
    Lines boxes; // the step's text, the first line of each box

    std::int32_t exit()
    {
        closePort();
        withoutInitAccess = false;
        calls.push_back("CLOSE_DRIVER() = 0");
        initialised = false;
        return 0;
    }

    std::int32_t init(std::uint32_t filterId)
    {
        if (initialised) {
            return 0;
        }
        calls.push_back("OPEN_DRIVER() = " + dec(status[SIM_OPEN_DRIVER]));
        if (status[SIM_OPEN_DRIVER] != 0) {
            return -1;
        }
        channelMask = benchMask;
        calls.push_back("GET_CHANNEL_MASK(2, 0, 0) = " + hex(channelMask));
        if (channelMask == 0) {
            boxes.push_back("Could not GetChannelMask");
            return -1;
        }
        if (withoutInitAccess) {
            closePort();
            withoutInitAccess = false;
        }
        if (!open()) {
            boxes.push_back("Could not OpenPort");
            return -1;
        }
        if (permissionMask == 0) {
            withoutInitAccess = true;
            return 0;
        }
        if (!setBitrate()) {
            return refused("Could not SetChannelBitrate");
        }
        if (!step("SET_OUTPUT(" + dec(port) + ", " + hex(permissionMask) + ", 1)",
                  SIM_SET_OUTPUT)) {
            return refused("Could not SetChannelOutput");
        }
        const bool filters =
            filterId == 0xFFFFFFFF
                ? acceptance(0, 0) && acceptance(0x80000000, 0x80000000)
                : acceptance(filterId, (filterId & 0x80000000) != 0 ? 0x9FFFFFFF : 0x7FF);
        if (!filters) {
            return refused("Could not SetChannelAcceptance");
        }
        if (!step("SET_MODE(" + dec(port) + ", " + hex(channelMask) + ", 0, 0)", SIM_SET_MODE)) {
            return refused("Could not SetChannelMode");
        }
        if (!step("ACTIVATE(" + dec(port) + ", " + hex(channelMask) + ")", SIM_ACTIVATE)) {
            return refused("Could not ActivateChannel");
        }
        portActive = true;
        initialised = true;
        return 0;
    }

    std::int32_t read()
    {
        std::uint16_t answer = status[SIM_RECEIVE];
        if (answer == 0) {
            answer = port == -1 ? NCD_INVALID_PORT : queued == 0 ? NCD_QUEUE_IS_EMPTY : 0;
        }
        calls.push_back("RECEIVE(" + dec(port) + ") = " + dec(answer));
        if (answer != 0) {
            return -1;
        }
        --queued;
        return 0;
    }

    std::int32_t send()
    {
        std::uint16_t answer = status[SIM_TRANSMIT];
        if (answer != 0) {
        } else if (port == -1) {
            answer = NCD_INVALID_PORT;
        } else if (channelMask == 0) {
            answer = NCD_WRONG_PARAMETER;
        } else if ((channelMask & ~portAccess) != 0) {
            answer = NCD_INVALID_ACCESS;
        } else if (!portActive) {
            answer = NCD_PORT_IS_OFFLINE;
        }
        calls.push_back("TRANSMIT(" + dec(port) + ", " + hex(channelMask) + ") = " + dec(answer));
        return answer == 0 ? 0 : -1;
    }

private:
    void closePort()
    {
        calls.push_back("CLOSE_PORT(" + dec(port) + ") = " + (port == -1 ? "118" : "0"));
        port = -1;
        portActive = false;
        queued = 0;
    }

    bool open()
    {
        std::uint16_t answer = 0;
        std::int32_t handle = 0; // the bench's first free port
        std::uint32_t granted = channelMask;
        if (openPort.scripted) {
            answer = openPort.status;
            handle = openPort.handle;
            granted = openPort.permission;
        } else if (status[SIM_OPEN_PORT] != 0) {
            answer = status[SIM_OPEN_PORT];
            handle = -1;
            granted = 0;
        }
        calls.push_back("OPEN_PORT(MORVANTIS, " + hex(channelMask) + ", " + hex(channelMask) +
                        ", 1024 -> " + dec(handle) + ", " + hex(granted) + ") = " + dec(answer));
        port = handle;
        permissionMask = granted;
        portAccess = channelMask;
        portActive = false;
        queued = 0;
        return answer != 0xFFFF && port != -1;
    }

    bool setBitrate()
    {
        if (bitrate > INT32_MAX / 1000 || bitrate < -(INT32_MAX / 1000)) {
            return false; // refused before the driver
        }
        const std::int32_t bits = bitrate * 1000;
        std::uint16_t answer = status[SIM_SET_BITRATE];
        if (answer == 0 && (bits <= 0 || bits > 1000000)) {
            answer = NCD_WRONG_PARAMETER; // the bench's range
        }
        calls.push_back("SET_BITRATE(" + dec(port) + ", " + hex(permissionMask) + ", " + dec(bits) +
                        ") = " + dec(answer));
        return answer == 0;
    }

    bool acceptance(std::uint32_t code, std::uint32_t mask)
    {
        return step("SET_ACCEPTANCE(" + dec(port) + ", " + hex(channelMask) + ", " + hex(code) +
                        "/" + hex(mask) + ")",
                    SIM_SET_ACCEPTANCE);
    }

    bool step(const std::string& call, SimOp op)
    {
        calls.push_back(call + " = " + dec(status[op]));
        return status[op] == 0;
    }

    std::int32_t refused(const char* text)
    {
        boxes.push_back(text);
        closePort();
        return -1;
    }
};

template <typename T, std::size_t N> const T& choose(std::mt19937& rng, const T (&items)[N])
{
    return items[std::uniform_int_distribution<std::size_t>(0, N - 1)(rng)];
}

// Weighted toward answers that let the channel come up.
const std::int32_t kBitrates[] = {100,  250,     500,     1000,     0,         -5,
                                  2000, 2147483, 2147484, -2147484, INT32_MIN, INT32_MAX};
const std::int32_t kOneIdBitrates[] = {0, 0, 0, 125, 2147484};
const std::uint32_t kFilterIds[] = {0xFFFFFFFF, 0x123, 0x80000123};
const SimOp kScriptedOps[] = {SIM_OPEN_DRIVER, SIM_SET_BITRATE, SIM_SET_OUTPUT, SIM_SET_ACCEPTANCE,
                              SIM_SET_MODE,    SIM_ACTIVATE,    SIM_RECEIVE,    SIM_TRANSMIT};
const std::uint16_t kStatuses[] = {0, 0, 0, 0, 0, 0, 5, 113, 201, 0xFFFF};
const std::uint32_t kBenchMasks[] = {0x4, 0x4, 0x4, 0x100000, 0};

// One random step, done on the library and on the model; a line for the
// history.
std::string randomStep(std::mt19937& rng, Model& model, std::int32_t& actual,
                       std::int32_t& expected)
{
    actual = expected = 0;
    switch (std::uniform_int_distribution<int>(0, 10)(rng)) {
    case 0:
        actual = CAN_Init();
        expected = model.init(0xFFFFFFFF);
        return "CAN_Init";
    case 1:
        actual = CAN_Exit();
        expected = model.exit();
        return "CAN_Exit";
    case 2:
        actual = CAN_Reset();
        model.exit();
        expected = model.init(0xFFFFFFFF);
        return "CAN_Reset";
    case 3: {
        const std::int32_t kbit = choose(rng, kBitrates);
        actual = CAN_Bitrate(kbit);
        model.bitrate = kbit;
        model.exit();
        expected = model.init(0xFFFFFFFF);
        return "CAN_Bitrate(" + dec(kbit) + ")";
    }
    case 4: {
        const std::int32_t kbit = choose(rng, kOneIdBitrates);
        const std::uint32_t id = choose(rng, kFilterIds);
        actual = CAN_Init_One_ID(kbit, id);
        if (kbit != 0) {
            model.bitrate = kbit;
            model.exit();
        }
        expected = model.init(id);
        return "CAN_Init_One_ID(" + dec(kbit) + ", " + hex(id) + ")";
    }
    case 5: {
        CanMsg msg{0x321, 2, 0, {1, 2}};
        CanExtMsg ext{0x80000321, 2, 0, {1, 2}};
        const int which = std::uniform_int_distribution<int>(0, 3)(rng);
        actual = which == 0   ? CAN_Send_Msg(&msg)
                 : which == 1 ? CAN_Send_RTR(&msg)
                 : which == 2 ? CAN_Send_extMsg(&ext)
                              : CAN_Send_extRTR(&ext);
        expected = model.send();
        return "send " + dec(which);
    }
    case 6: {
        CanMsg msg{};
        CanExtMsg ext{};
        const bool extended = std::uniform_int_distribution<int>(0, 1)(rng) == 1;
        actual = extended ? CAN_Read_extMsg(&ext) : CAN_Read_Msg(&msg);
        expected = model.read();
        return extended ? "CAN_Read_extMsg" : "CAN_Read_Msg";
    }
    case 7: {
        if (model.port == -1) {
            return "no frame: no port";
        }
        DriverEvent frame{};
        frame.tag = kEventReceived;
        frame.id = 0x456;
        frame.length = 2;
        actual = simInjectEvent(model.port, &frame);
        ++model.queued;
        return "a frame arrives";
    }
    case 8: {
        const SimOp op = choose(rng, kScriptedOps);
        const std::uint16_t status = choose(rng, kStatuses);
        simSetStatus(op, status);
        model.status[op] = status;
        return "driver: op " + dec(op) + " answers " + dec(status);
    }
    case 9: {
        const OpenPortAnswer& answer = choose(rng, kOpenPortAnswers);
        simClearOpenPortScript();
        simSetStatus(SIM_OPEN_PORT, answer.scripted ? 0 : answer.status);
        if (answer.scripted) {
            simScriptOpenPort(answer.status, answer.handle, answer.permission);
        }
        model.openPort = answer;
        model.status[SIM_OPEN_PORT] = answer.scripted ? 0 : answer.status;
        return std::string("driver: open port ") + answer.name;
    }
    default: {
        const std::uint32_t mask = choose(rng, kBenchMasks);
        simSetChannelMask(2, 0, 0, mask);
        model.benchMask = mask;
        return "driver: channel mask " + hex(mask);
    }
    }
}

using BringUpRandom = LibraryTest;

TEST_F(BringUpRandom, SequencesFollowTheStateTable)
{
    constexpr std::uint32_t kSeed = 20261211;
    constexpr int kSequences = 200;
    constexpr int kSteps = 60;
    for (int sequence = 0; sequence < kSequences; ++sequence) {
        const std::uint32_t seed = kSeed + static_cast<std::uint32_t>(sequence);
        std::mt19937 rng(seed);
        libraryState.settings = CanSettings{};
        libraryState.connection = DriverConnection{};
        simReset();
        Model model;
        Lines history;
        for (int i = 0; i < kSteps; ++i) {
            model.calls.clear();
            model.boxes.clear();
            simClearCalls();
            boxes.clear();
            std::int32_t actual = 0;
            std::int32_t expected = 0;
            history.push_back(randomStep(rng, model, actual, expected));

            Lines boxSteps;
            for (const host::MessageBoxCall& box : boxes) {
                boxSteps.push_back(box.text.substr(0, box.text.find('\n')));
            }
            const Lines actualCalls = calls();
            const bool same =
                actual == expected && actualCalls == model.calls && boxSteps == model.boxes &&
                libraryState.connection.portHandle == model.port &&
                libraryState.connection.initialised == model.initialised &&
                libraryState.connection.channelMask == model.channelMask &&
                libraryState.connection.permissionMask == model.permissionMask &&
                libraryState.settings.bitrate == model.bitrate &&
                simOpenPortCount() == (model.port == -1 ? 0 : 1) &&
                simActiveChannels(model.port) == (model.portActive ? model.portAccess : 0) &&
                simQueuedEvents(model.port) == (model.port == -1 ? -1 : model.queued);
            if (!same) {
                std::string steps;
                for (const std::string& line : history) {
                    steps += "\n  " + line;
                }
                ADD_FAILURE() << "seed " << seed << ", after the steps:" << steps;
                EXPECT_EQ(actual, expected);
                EXPECT_EQ(actualCalls, model.calls);
                EXPECT_EQ(boxSteps, model.boxes);
                EXPECT_EQ(libraryState.connection.portHandle, model.port);
                EXPECT_EQ(libraryState.connection.initialised, model.initialised);
                EXPECT_EQ(libraryState.connection.channelMask, model.channelMask);
                EXPECT_EQ(libraryState.connection.permissionMask, model.permissionMask);
                EXPECT_EQ(libraryState.settings.bitrate, model.bitrate);
                EXPECT_EQ(simOpenPortCount(), model.port == -1 ? 0 : 1);
                EXPECT_EQ(simActiveChannels(model.port), model.portActive ? model.portAccess : 0);
                EXPECT_EQ(simQueuedEvents(model.port), model.port == -1 ? -1 : model.queued);
                return;
            }
        }
    }
}

} // namespace
} // namespace morvantis::testing
