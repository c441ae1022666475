#include "fixture.h"

#include "morvantis.h"

#include <climits>
#include <functional>

namespace morvantis::testing {
namespace {

using Lines = std::vector<std::string>;

Lines operator+(Lines first, const Lines& second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// The driver's side of bringing the default channel (catalogue entry 2,
// mask 0x4) up on port 0 with the default settings.
const std::string kOpenDriver = "OPEN_DRIVER() = 0";
const std::string kMask = "GET_CHANNEL_MASK(2, 0, 0) = 0x4";
const std::string kNoMask = "GET_CHANNEL_MASK(2, 0, 0) = 0x0";
const std::string kOpenPort = "OPEN_PORT(MORVANTIS, 0x4, 0x4, 1024 -> 0, 0x4) = 0";
const std::string kBitrate = "SET_BITRATE(0, 0x4, 100000) = 0";
const std::string kOutput = "SET_OUTPUT(0, 0x4, 1) = 0";
const std::string kAcceptStd = "SET_ACCEPTANCE(0, 0x4, 0x0/0x0) = 0";
const std::string kAcceptXtd = "SET_ACCEPTANCE(0, 0x4, 0x80000000/0x80000000) = 0";
const std::string kMode = "SET_MODE(0, 0x4, 0, 0) = 0";
const std::string kActivate = "ACTIVATE(0, 0x4) = 0";
const std::string kClosePort = "CLOSE_PORT(0) = 0";
const std::string kCloseNoPort = "CLOSE_PORT(-1) = 118";
const std::string kCloseDriver = "CLOSE_DRIVER() = 0";

const Lines kUp = {kOpenDriver, kMask,      kOpenPort, kBitrate, kOutput,
                   kAcceptStd,  kAcceptXtd, kMode,     kActivate};
const Lines kTeardown = {kClosePort, kCloseDriver};
const Lines kTeardownNoPort = {kCloseNoPort, kCloseDriver};

// kUp as far as `step`, then `refused` in its place (the same call with
// the driver's refusal) and the port closed.
Lines refusedAt(const std::string& step, const std::string& refused)
{
    Lines lines;
    for (const std::string& line : kUp) {
        if (line == step) {
            break;
        }
        lines.push_back(line);
    }
    return lines + Lines{refused, kClosePort};
}

// kUp with `line` replaced by `with`.
Lines upWith(const std::string& line, const Lines& with)
{
    Lines lines;
    for (const std::string& each : kUp) {
        lines = each == line ? lines + with : lines + Lines{each};
    }
    return lines;
}

// kUp with `filters` in place of the two acceptance calls.
Lines upWithFilters(const Lines& filters)
{
    return Lines{kOpenDriver, kMask, kOpenPort, kBitrate, kOutput} + filters +
           Lines{kMode, kActivate};
}

struct State {
    std::int32_t portHandle;
    bool initialised;
    std::uint32_t channelMask;
    std::int32_t bitrate;
    std::int32_t openPorts;   // ports the driver holds open
    std::int32_t driverOpens; // opens of the driver not yet closed
    bool operator==(const State&) const = default;
};

std::ostream& operator<<(std::ostream& out, const State& s)
{
    return out << "{port " << s.portHandle << ", initialised " << s.initialised << ", mask 0x"
               << std::hex << s.channelMask << std::dec << ", bitrate " << s.bitrate
               << ", open ports " << s.openPorts << ", driver opens " << s.driverOpens << "}";
}

const State kStateUp{0, true, 0x4, 100, 1, 1};
const State kStateClosedAtLoad{-1, false, 0, 100, 0, 0};
// Refused once the driver was open: no port, driver left open.
const State kStatePortClosed{-1, false, 0x4, 100, 0, 1};

using BringUp = LibraryTest;

struct Scenario {
    const char* name;
    std::function<void()> before; // its calls and boxes are not checked
    std::function<std::int32_t()> call;
    std::int32_t result;
    Lines calls;
    Lines boxes;
    State state;
};

void noInitAccess()
{
    simScriptOpenPort(0, 3, 0);
}

void noInitAccessPort()
{
    noInitAccess();
    CAN_Init();
    simClearOpenPortScript();
}

void up()
{
    CAN_Init();
}

std::function<void()> status(SimOp op, std::uint16_t value)
{
    return [=] { simSetStatus(op, value); };
}

const std::string kBitrateWrong =
    "Could not SetChannelBitrate\n Reason: WRONG_PARAMETER (code 101) !";

// A bitrate whose bit/s do not fit 32 bits: refused before the driver.
Scenario bitrateRefused(const char* name, std::int32_t kbit)
{
    return {name,
            {},
            [=] { return CAN_Bitrate(kbit); },
            -1,
            kTeardownNoPort + Lines{kOpenDriver, kMask, kOpenPort, kClosePort},
            {kBitrateWrong},
            {-1, false, 0x4, kbit, 0, 1}};
}

// A bitrate that reaches the driver as `bits`; the bench takes up to 1 Mbit/s.
Scenario bitrateToDriver(const char* name, std::int32_t kbit, const char* bits, bool taken)
{
    const std::string line = std::string("SET_BITRATE(0, 0x4, ") + bits + ") = ";
    if (taken) {
        return {name,
                {},
                [=] { return CAN_Bitrate(kbit); },
                0,
                kTeardownNoPort + upWith(kBitrate, {line + "0"}),
                {},
                {0, true, 0x4, kbit, 1, 1}};
    }
    return {name,
            {},
            [=] { return CAN_Bitrate(kbit); },
            -1,
            kTeardownNoPort + refusedAt(kBitrate, line + "101"),
            {kBitrateWrong},
            {-1, false, 0x4, kbit, 0, 1}};
}

const Scenario kScenarios[] = {
    {"defaults put the default channel on the bus", {}, CAN_Init, 0, kUp, {}, kStateUp},

    // Opening the driver: any refusal is -1, silent, and changes nothing.
    {"driver refused with 201",
     status(SIM_OPEN_DRIVER, 201),
     CAN_Init,
     -1,
     {"OPEN_DRIVER() = 201"},
     {},
     kStateClosedAtLoad},
    {"driver refused with 5",
     status(SIM_OPEN_DRIVER, 5),
     CAN_Init,
     -1,
     {"OPEN_DRIVER() = 5"},
     {},
     kStateClosedAtLoad},
    {"driver refused with 0xFFFF",
     status(SIM_OPEN_DRIVER, 0xFFFF),
     CAN_Init,
     -1,
     {"OPEN_DRIVER() = 65535"},
     {},
     kStateClosedAtLoad},

    {"no channel mask",
     [] { simSetChannelMask(2, 0, 0, 0); },
     CAN_Init,
     -1,
     {kOpenDriver, kNoMask},
     {"Could not GetChannelMask\n !"},
     {-1, false, 0, 100, 0, 1}},

    // Opening the port.
    {"port refused with 0xFFFF",
     status(SIM_OPEN_PORT, 0xFFFF),
     CAN_Init,
     -1,
     {kOpenDriver, kMask, "OPEN_PORT(MORVANTIS, 0x4, 0x4, 1024 -> -1, 0x0) = 65535"},
     {"Could not OpenPort\n Reason: unknown (code -1) !"},
     kStatePortClosed},
    {"port refused with 0xFFFF leaves the handle the driver gave",
     [] { simScriptOpenPort(0xFFFF, 3, 0x4); },
     CAN_Init,
     -1,
     {kOpenDriver, kMask, "OPEN_PORT(MORVANTIS, 0x4, 0x4, 1024 -> 3, 0x4) = 65535"},
     {"Could not OpenPort\n Reason: unknown (code -1) !"},
     {3, false, 0x4, 100, 1, 1}},
    {"port with status 0 but handle -1",
     [] { simScriptOpenPort(0, -1, 0x4); },
     CAN_Init,
     -1,
     {kOpenDriver, kMask, "OPEN_PORT(MORVANTIS, 0x4, 0x4, 1024 -> -1, 0x4) = 0"},
     {"Could not OpenPort\n !"},
     kStatePortClosed},
    {"port refused with 5 and no handle",
     status(SIM_OPEN_PORT, 5),
     CAN_Init,
     -1,
     {kOpenDriver, kMask, "OPEN_PORT(MORVANTIS, 0x4, 0x4, 1024 -> -1, 0x0) = 5"},
     {"Could not OpenPort\n Reason: unknown (code 5) !"},
     kStatePortClosed},
    {"port with status 5 and a handle goes on",
     [] { simScriptOpenPort(5, 0, 0x4); },
     CAN_Init,
     0,
     upWith(kOpenPort, {"OPEN_PORT(MORVANTIS, 0x4, 0x4, 1024 -> 0, 0x4) = 5"}),
     {},
     kStateUp},

    // A port without init access.
    {"no init access leaves the port open and the channel down",
     noInitAccess,
     CAN_Init,
     0,
     {kOpenDriver, kMask, "OPEN_PORT(MORVANTIS, 0x4, 0x4, 1024 -> 3, 0x0) = 0"},
     {},
     {3, false, 0x4, 100, 1, 1}},
    {"the next bring-up closes the port without init access first",
     noInitAccessPort,
     CAN_Init,
     0,
     upWith(kOpenPort, {"CLOSE_PORT(3) = 0", kOpenPort}),
     {},
     {0, true, 0x4, 100, 1, 2}},
    {"a bring-up that stops before the port keeps the port without init access",
     [] {
         noInitAccessPort();
         simSetChannelMask(2, 0, 0, 0);
     },
     CAN_Init,
     -1,
     {kOpenDriver, kNoMask},
     {"Could not GetChannelMask\n !"},
     {3, false, 0, 100, 1, 2}},
    {"exit closes the port without init access",
     noInitAccessPort,
     CAN_Exit,
     0,
     {"CLOSE_PORT(3) = 0", kCloseDriver},
     {},
     {-1, false, 0x4, 100, 0, 0}},

    // Steps after the port: the box, then the port closed.
    {"bitrate refused",
     status(SIM_SET_BITRATE, 113),
     CAN_Init,
     -1,
     refusedAt(kBitrate, "SET_BITRATE(0, 0x4, 100000) = 113"),
     {"Could not SetChannelBitrate\n Reason: PORT_IS_OFFLINE (e.g. CANCAB not connected) (code "
      "113) !"},
     kStatePortClosed},
    {"output refused",
     status(SIM_SET_OUTPUT, 12),
     CAN_Init,
     -1,
     refusedAt(kOutput, "SET_OUTPUT(0, 0x4, 1) = 12"),
     {"Could not SetChannelOutput\n Reason: TX_NOT_POSSIBLE (code 12) !"},
     kStatePortClosed},
    {"standard filter refused: no extended filter",
     status(SIM_SET_ACCEPTANCE, 101),
     CAN_Init,
     -1,
     refusedAt(kAcceptStd, "SET_ACCEPTANCE(0, 0x4, 0x0/0x0) = 101"),
     {"Could not SetChannelAcceptance\n Reason: WRONG_PARAMETER (code 101) !"},
     kStatePortClosed},
    {"extended filter refused",
     [] { simSetStatusAfter(SIM_SET_ACCEPTANCE, 101, 1); },
     CAN_Init,
     -1,
     refusedAt(kAcceptXtd, "SET_ACCEPTANCE(0, 0x4, 0x80000000/0x80000000) = 101"),
     {"Could not SetChannelAcceptance\n Reason: WRONG_PARAMETER (code 101) !"},
     kStatePortClosed},
    {"mode refused",
     status(SIM_SET_MODE, 116),
     CAN_Init,
     -1,
     refusedAt(kMode, "SET_MODE(0, 0x4, 0, 0) = 116"),
     {"Could not SetChannelMode\n Reason: CHAN_IS_ONLINE (code 116) !"},
     kStatePortClosed},
    {"activation refused",
     status(SIM_ACTIVATE, 0xFFFF),
     CAN_Init,
     -1,
     refusedAt(kActivate, "ACTIVATE(0, 0x4) = 65535"),
     {"Could not ActivateChannel\n Reason: unknown (code -1) !"},
     kStatePortClosed},

    // Up and down.
    {"init on a channel that is up does nothing", up, CAN_Init, 0, {}, {}, kStateUp},
    {"exit without init", {}, CAN_Exit, 0, kTeardownNoPort, {}, kStateClosedAtLoad},
    {"exit keeps the channel mask", up, CAN_Exit, 0, kTeardown, {}, {-1, false, 0x4, 100, 0, 0}},
    {"reset restarts", up, CAN_Reset, 0, kTeardown + kUp, {}, kStateUp},
    {"reset picks up changed settings",
     [] {
         up();
         libraryState.settings.globalCodeStd = 0x123;
     },
     CAN_Reset,
     0,
     kTeardown + upWith(kAcceptStd, {"SET_ACCEPTANCE(0, 0x4, 0x123/0x0) = 0"}),
     {},
     kStateUp},
    {"settings' filters, bit 31 added to the extended pair",
     [] {
         libraryState.settings.globalCodeStd = 0x123;
         libraryState.settings.globalMaskStd = 0x7F0;
         libraryState.settings.globalCodeXtd = 0x1234567;
         libraryState.settings.globalMaskXtd = -1;
     },
     CAN_Init,
     0,
     upWithFilters({"SET_ACCEPTANCE(0, 0x4, 0x123/0x7F0) = 0",
                    "SET_ACCEPTANCE(0, 0x4, 0x81234567/0xFFFFFFFF) = 0"}),
     {},
     kStateUp},

    // One identifier.
    {"one standard identifier",
     {},
     [] { return CAN_Init_One_ID(0, 0x123); },
     0,
     upWithFilters({"SET_ACCEPTANCE(0, 0x4, 0x123/0x7FF) = 0"}),
     {},
     kStateUp},
    {"one extended identifier",
     {},
     [] { return CAN_Init_One_ID(0, 0x80000123); },
     0,
     upWithFilters({"SET_ACCEPTANCE(0, 0x4, 0x80000123/0x9FFFFFFF) = 0"}),
     {},
     kStateUp},
    {"identifier 0xFFFFFFFF takes the settings' filters",
     {},
     [] { return CAN_Init_One_ID(0, 0xFFFFFFFF); },
     0,
     kUp,
     {},
     kStateUp},
    {"one identifier with kbit 250 restarts at 250",
     {},
     [] { return CAN_Init_One_ID(250, 0xFFFFFFFF); },
     0,
     kTeardownNoPort + upWith(kBitrate, {"SET_BITRATE(0, 0x4, 250000) = 0"}),
     {},
     {0, true, 0x4, 250, 1, 1}},
    {"one identifier on a channel that is up applies nothing",
     up,
     [] { return CAN_Init_One_ID(0, 0x123); },
     0,
     {},
     {},
     kStateUp},
    {"one identifier with a bitrate on a channel that is up restarts",
     up,
     [] { return CAN_Init_One_ID(500, 0x123); },
     0,
     kTeardown + Lines{kOpenDriver, kMask, kOpenPort, "SET_BITRATE(0, 0x4, 500000) = 0", kOutput,
                       "SET_ACCEPTANCE(0, 0x4, 0x123/0x7FF) = 0", kMode, kActivate},
     {},
     {0, true, 0x4, 500, 1, 1}},

    // Bitrates.
    {"bitrate restarts a channel that is up",
     up,
     [] { return CAN_Bitrate(250); },
     0,
     kTeardown + upWith(kBitrate, {"SET_BITRATE(0, 0x4, 250000) = 0"}),
     {},
     {0, true, 0x4, 250, 1, 1}},
    bitrateToDriver("1000 kbit/s", 1000, "1000000", true),
    bitrateToDriver("the largest bitrate that fits", 2147483, "2147483000", false),
    bitrateToDriver("the most negative bitrate that fits", -2147483, "-2147483000", false),
    bitrateToDriver("bitrate 0", 0, "0", false),
    bitrateRefused("one above the largest", 2147484),
    bitrateRefused("one below the most negative", -2147484),
    bitrateRefused("INT32_MAX", INT32_MAX),
    bitrateRefused("INT32_MIN", INT32_MIN),
};

TEST_F(BringUp, Scenarios)
{
    for (const Scenario& scenario : kScenarios) {
        SCOPED_TRACE(scenario.name);
        libraryState.settings = CanSettings{};
        libraryState.connection = DriverConnection{};
        simReset();
        if (scenario.before) {
            scenario.before();
        }
        simClearCalls();
        boxes.clear();

        EXPECT_EQ(scenario.call(), scenario.result);
        EXPECT_EQ(calls(), scenario.calls);
        Lines texts;
        for (const host::MessageBoxCall& box : boxes) {
            texts.push_back(box.text);
            EXPECT_EQ(box.caption, "morvantis.dll");
            EXPECT_EQ(box.owner, nullptr);
        }
        EXPECT_EQ(texts, scenario.boxes);
        const State state{libraryState.connection.portHandle,
                          libraryState.connection.initialised,
                          libraryState.connection.channelMask,
                          libraryState.settings.bitrate,
                          simOpenPortCount(),
                          simDriverOpenCount()};
        EXPECT_EQ(state, scenario.state);
    }
}

struct Triple {
    std::int32_t channelIndex;
    const char* maskCall;
    std::int32_t result;
};

// Bring-up hands the catalogue's triple to the driver; an index outside the
// catalogue hands over the no-channel triple, which the driver does not know.
const Triple kTriples[] = {
    {0, "GET_CHANNEL_MASK(1, 0, 0) = 0x1", 0},
    {5, "GET_CHANNEL_MASK(2, 1, 1) = 0x20", 0},
    {6, "GET_CHANNEL_MASK(48, 0, 0) = 0x40", 0},
    {18, "GET_CHANNEL_MASK(40, 0, 3) = 0x40000", 0},
    {19, "GET_CHANNEL_MASK(0, -1, 0) = 0x0", -1},
    {-1, "GET_CHANNEL_MASK(0, -1, 0) = 0x0", -1},
    {INT32_MIN, "GET_CHANNEL_MASK(0, -1, 0) = 0x0", -1},
};

TEST_F(BringUp, AsksTheDriverForTheConfiguredChannel)
{
    for (const Triple& triple : kTriples) {
        SCOPED_TRACE(triple.channelIndex);
        CAN_Exit();
        simClearCalls();
        boxes.clear();
        libraryState.settings.channelIndex = triple.channelIndex;

        EXPECT_EQ(CAN_Init(), triple.result);
        const std::vector<SimCall> maskCalls = callsOf(SIM_GET_CHANNEL_MASK);
        ASSERT_EQ(maskCalls.size(), 1u);
        EXPECT_EQ(describe(maskCalls[0]), triple.maskCall);
        EXPECT_EQ(libraryState.connection.channelMask, maskCalls[0].result);
        EXPECT_EQ(boxes.size(), triple.result == 0 ? 0u : 1u);
    }
}

} // namespace
} // namespace morvantis::testing
