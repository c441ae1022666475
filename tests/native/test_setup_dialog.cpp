// The setup dialog on the in-memory dialog: what it shows when it opens,
// what OK takes back, the restart and the save, Cancel, and a restart that
// fails.
#include "fixture.h"

#include "morvantis.h"
#include "resources/resource_ids.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace morvantis::testing {
namespace {

using host::InMemoryDialog;

constexpr std::int32_t kOk = 1;
constexpr std::int32_t kCancel = 2;

// What the dialog showed when it opened.
struct Shown {
    std::string version;
    std::vector<std::string> channels;
    std::int32_t channel = -2;
    std::vector<std::string> bitrates;
    std::int32_t bitrate = -2;
    std::string maskStd, codeStd, maskXtd, codeXtd;
};

Shown readControls(InMemoryDialog& dialog)
{
    Shown shown;
    shown.version = dialog.text(IDC_DLL_VERSION);
    shown.channels = dialog.list(IDC_CHANNEL_INDEX).entries;
    shown.channel = dialog.list(IDC_CHANNEL_INDEX).selection;
    shown.bitrates = dialog.list(IDC_BITRATE).entries;
    shown.bitrate = dialog.list(IDC_BITRATE).selection;
    shown.maskStd = dialog.text(IDC_GLOBAL_MASK_STD);
    shown.codeStd = dialog.text(IDC_GLOBAL_CODE_STD);
    shown.maskXtd = dialog.text(IDC_GLOBAL_MASK_XTD);
    shown.codeXtd = dialog.text(IDC_GLOBAL_CODE_XTD);
    return shown;
}

// The user's side of the dialog: what it saw, and the dialog itself (the
// owner that boxes shown from it must name).
struct Session {
    Shown shown;
    void* window = nullptr;
};

using Actions = std::function<void(InMemoryDialog&)>;

// Runs CAN_InterfaceSetup with a user who does `actions` and then presses
// `command`.
std::int32_t runDialog(Session& session, const Actions& actions, std::int32_t command)
{
    host::SetDialogUser([&](InMemoryDialog& dialog) {
        session.shown = readControls(dialog);
        session.window = dialog.window();
        if (actions) {
            actions(dialog);
        }
        dialog.press(command);
    });
    return CAN_InterfaceSetup(nullptr);
}

Actions typeInto(int id, std::string text)
{
    return [id, text](InMemoryDialog& dialog) { dialog.type(id, text); };
}

Actions pick(int id, std::int32_t index)
{
    return [id, index](InMemoryDialog& dialog) { dialog.selectListEntry(id, index); };
}

// What the dialog works on: the settings and the bitrate index it
// remembers.
struct DialogState {
    CanSettings settings;
    std::int32_t bitrateIndex = 4;
};

DialogState current()
{
    return {libraryState.settings, libraryState.setupDialog.bitrateIndex};
}

void restore(const DialogState& state)
{
    libraryState.settings = state.settings;
    libraryState.setupDialog.bitrateIndex = state.bitrateIndex;
}

// The seven fields in order: channel, bitrate, bitrate index, mask and code
// standard, mask and code extended.
std::vector<std::int32_t> fields(const DialogState& state)
{
    const CanSettings& s = state.settings;
    return {s.channelIndex,  s.bitrate,       state.bitrateIndex, s.globalMaskStd,
            s.globalCodeStd, s.globalMaskXtd, s.globalCodeXtd};
}

DialogState settings(std::int32_t channel, std::int32_t bitrate, std::int32_t bitrateIndex,
                     std::uint32_t maskStd = 0, std::uint32_t codeStd = 0,
                     std::uint32_t maskXtd = 0, std::uint32_t codeXtd = 0)
{
    DialogState state;
    CanSettings& s = state.settings;
    state.bitrateIndex = bitrateIndex;
    s.channelIndex = channel;
    s.bitrate = bitrate;
    s.globalMaskStd = static_cast<std::int32_t>(maskStd);
    s.globalCodeStd = static_cast<std::int32_t>(codeStd);
    s.globalMaskXtd = static_cast<std::int32_t>(maskXtd);
    s.globalCodeXtd = static_cast<std::int32_t>(codeXtd);
    return state;
}

const std::vector<std::string> kChannelNames = {
    "Virtual C1",       "Virtual C2",   "LAPcan(II) C1 S1", "LAPcan(II) C2 S1", "LAPcan(II) C1 S2",
    "LAPcan(II) C2 S2", "Leaf-USB",     "USBcan C1",        "USBcan C2",        "USBcan II C1",
    "USBcan II C2",     "PCIcan C1",    "PCIcan C2",        "PCIcan C3",        "PCIcan C4",
    "PCIcan II C1",     "PCIcan II C2", "PCIcan II C3",     "PCIcan II C4"};
const std::vector<std::string> kBitrates = {"10",  "20",  "40",  "50",  "100",
                                            "125", "250", "500", "1000"};

const std::string kDefaultFile = "[MORVANTIS]\r\n"
                                 "CHANNEL_INDEX=2\r\n"
                                 "BITRATE=100\r\n"
                                 "GLOBALMASKSTD=0x00000000\r\n"
                                 "GLOBALCODESTD=0x00000000\r\n"
                                 "GLOBALMASKXTD=0x00000000\r\n"
                                 "GLOBALCODEXTD=0x00000000\r\n";

using SetupDialog = LibraryTest;

TEST_F(SetupDialog, OpensWithTheDefaults)
{
    Session session;
    EXPECT_EQ(runDialog(session, {}, kCancel), 1);
    const Shown& shown = session.shown;
    EXPECT_EQ(shown.version, "DLL-Version: V1.00r0");
    EXPECT_EQ(shown.channels, kChannelNames);
    EXPECT_EQ(shown.channel, 2);
    EXPECT_EQ(shown.bitrates, kBitrates);
    EXPECT_EQ(shown.bitrate, 4);
    EXPECT_EQ(shown.maskStd, "000");
    EXPECT_EQ(shown.codeStd, "000");
    EXPECT_EQ(shown.maskXtd, "00000000");
    EXPECT_EQ(shown.codeXtd, "00000000");
}

struct OpeningCase {
    const char* name;
    DialogState before;
    std::int32_t channelSelection;
    std::int32_t bitrateSelection;
    std::vector<std::string> edits; // mask std, code std, mask xtd, code xtd
};

TEST_F(SetupDialog, ShowsTheSettingsAtOpening)
{
    const OpeningCase cases[] = {
        {"bitrate without an entry shows the kept index",
         settings(2, 33, 4),
         2,
         4,
         {"000", "000", "00000000", "00000000"}},
        {"bitrate without an entry, index from an earlier OK",
         settings(2, 33, 7),
         2,
         7,
         {"000", "000", "00000000", "00000000"}},
        {"bitrate with an entry selects it",
         settings(2, 250, 4),
         2,
         6,
         {"000", "000", "00000000", "00000000"}},
        {"last channel", settings(18, 1000, 4), 18, 8, {"000", "000", "00000000", "00000000"}},
        {"channel 25 leaves the list unselected",
         settings(25, 100, 4),
         -1,
         4,
         {"000", "000", "00000000", "00000000"}},
        {"channel -1 leaves the list unselected",
         settings(-1, 100, 4),
         -1,
         4,
         {"000", "000", "00000000", "00000000"}},
        {"values shown in upper case, wide ones in full",
         settings(2, 100, 4, 0x7FF, 0x12345, 0x1ABCDEF, 0xFFFFFFFF),
         2,
         4,
         {"7FF", "12345", "01ABCDEF", "FFFFFFFF"}},
    };
    for (const OpeningCase& c : cases) {
        SCOPED_TRACE(c.name);
        restore(c.before);
        Session session;
        runDialog(session, {}, kCancel);
        EXPECT_EQ(session.shown.channel, c.channelSelection);
        EXPECT_EQ(session.shown.bitrate, c.bitrateSelection);
        EXPECT_EQ((std::vector<std::string>{session.shown.maskStd, session.shown.codeStd,
                                            session.shown.maskXtd, session.shown.codeXtd}),
                  c.edits);
        EXPECT_EQ(libraryState.setupDialog.bitrateIndex, c.bitrateSelection);
    }
}

struct OkCase {
    const char* name;
    DialogState before;
    std::vector<Actions> actions;
    DialogState after;
};

TEST_F(SetupDialog, OkTakesTheValuesBack)
{
    const std::string zeros31(31, '0');
    const OkCase cases[] = {
        {"nothing changed", settings(2, 100, 4), {}, settings(2, 100, 4)},
        {"7ff",
         settings(2, 100, 4),
         {typeInto(IDC_GLOBAL_MASK_STD, "7ff")},
         settings(2, 100, 4, 0x7FF)},
        {"leading blanks and 0x",
         settings(2, 100, 4),
         {typeInto(IDC_GLOBAL_CODE_STD, "  0x1A")},
         settings(2, 100, 4, 0, 0x1A)},
        {"empty text",
         settings(2, 100, 4, 0x7FF),
         {typeInto(IDC_GLOBAL_MASK_STD, "")},
         settings(2, 100, 4)},
        {"digits up to the first other character",
         settings(2, 100, 4),
         {typeInto(IDC_GLOBAL_MASK_XTD, "12G4")},
         settings(2, 100, 4, 0, 0, 0x12)},
        {"FFFFFFFF stays the pattern",
         settings(2, 100, 4),
         {typeInto(IDC_GLOBAL_CODE_XTD, "FFFFFFFF")},
         settings(2, 100, 4, 0, 0, 0, 0xFFFFFFFF)},
        {"-1 is the pattern FFFFFFFF",
         settings(2, 100, 4),
         {typeInto(IDC_GLOBAL_MASK_STD, "-1")},
         settings(2, 100, 4, 0xFFFFFFFF)},
        {"wider than 32 bits",
         settings(2, 100, 4),
         {typeInto(IDC_GLOBAL_MASK_XTD, "123456789")},
         settings(2, 100, 4, 0, 0, 0xFFFFFFFF)},
        {"only the first 31 characters count",
         settings(2, 100, 4, 0x55),
         {typeInto(IDC_GLOBAL_MASK_STD, zeros31 + "1")},
         settings(2, 100, 4)},
        {"wide standard mask shown in full and taken back",
         settings(2, 100, 4, 0x12345, 0xABCD),
         {},
         settings(2, 100, 4, 0x12345, 0xABCD)},
        {"each edit goes to its own field",
         settings(2, 100, 4),
         {typeInto(IDC_GLOBAL_MASK_STD, "1"), typeInto(IDC_GLOBAL_CODE_STD, "2"),
          typeInto(IDC_GLOBAL_MASK_XTD, "3"), typeInto(IDC_GLOBAL_CODE_XTD, "4")},
         settings(2, 100, 4, 1, 2, 3, 4)},
        {"picked channel and bitrate",
         settings(2, 100, 4),
         {pick(IDC_CHANNEL_INDEX, 11), pick(IDC_BITRATE, 8)},
         settings(11, 1000, 8)},
        {"bitrate without an entry becomes the shown one",
         settings(2, 33, 4),
         {},
         settings(2, 100, 4)},
        {"channel 25 without a pick stays", settings(25, 100, 4), {}, settings(25, 100, 4)},
        {"channel -1 without a pick stays", settings(-1, 100, 4), {}, settings(-1, 100, 4)},
        {"channel 25 with a pick",
         settings(25, 100, 4),
         {pick(IDC_CHANNEL_INDEX, 0)},
         settings(0, 100, 4)},
        {"bitrate list without a selection keeps bitrate and index",
         settings(2, 33, 5),
         {pick(IDC_BITRATE, -1)},
         settings(2, 33, 5)},
    };
    for (const OkCase& c : cases) {
        SCOPED_TRACE(c.name);
        restore(c.before);
        libraryState.connection = DriverConnection{};
        Session session;
        const Actions all = [&c](InMemoryDialog& dialog) {
            for (const Actions& action : c.actions) {
                action(dialog);
            }
        };
        EXPECT_EQ(runDialog(session, all, kOk), 1);
        EXPECT_EQ(fields(current()), fields(c.after));
    }
}

TEST_F(SetupDialog, OkWithoutChangeRestartsAndSavesAllSixKeys)
{
    Session session;
    EXPECT_EQ(runDialog(session, {}, kOk), 1);
    EXPECT_EQ(calls(), (std::vector<std::string>{
                           "CLOSE_PORT(-1) = 118",
                           "CLOSE_DRIVER() = 0",
                           "OPEN_DRIVER() = 0",
                           "GET_CHANNEL_MASK(2, 0, 0) = 0x4",
                           "OPEN_PORT(MORVANTIS, 0x4, 0x4, 1024 -> 0, 0x4) = 0",
                           "SET_BITRATE(0, 0x4, 100000) = 0",
                           "SET_OUTPUT(0, 0x4, 1) = 0",
                           "SET_ACCEPTANCE(0, 0x4, 0x0/0x0) = 0",
                           "SET_ACCEPTANCE(0, 0x4, 0x80000000/0x80000000) = 0",
                           "SET_MODE(0, 0x4, 0, 0) = 0",
                           "ACTIVATE(0, 0x4) = 0",
                       }));
    EXPECT_EQ(readSettingsFile(), kDefaultFile);
    EXPECT_TRUE(boxes.empty());
    // Never brought up before, the channel is up once the dialog has closed.
    EXPECT_TRUE(libraryState.connection.initialised);
    EXPECT_EQ(simActiveChannels(0), 0x4u);
}

TEST_F(SetupDialog, OkRestartsARunningChannelWithTheNewValues)
{
    writeSettingsFile("[OTHER]\r\nKEY=kept\r\n[MORVANTIS]\r\nBITRATE=100\r\n");
    ASSERT_EQ(CAN_Init(), 0);
    simClearCalls();
    Session session;
    const Actions change = [](InMemoryDialog& dialog) {
        dialog.selectListEntry(IDC_CHANNEL_INDEX, 7);
        dialog.selectListEntry(IDC_BITRATE, 7);
        dialog.type(IDC_GLOBAL_MASK_STD, "7F0");
        dialog.type(IDC_GLOBAL_CODE_STD, "120");
        dialog.type(IDC_GLOBAL_MASK_XTD, "1FFFFF00");
        dialog.type(IDC_GLOBAL_CODE_XTD, "00ABCD00");
    };
    EXPECT_EQ(runDialog(session, change, kOk), 1);
    EXPECT_EQ(calls(), (std::vector<std::string>{
                           "CLOSE_PORT(0) = 0",
                           "CLOSE_DRIVER() = 0",
                           "OPEN_DRIVER() = 0",
                           "GET_CHANNEL_MASK(11, 0, 0) = 0x80",
                           "OPEN_PORT(MORVANTIS, 0x80, 0x80, 1024 -> 0, 0x80) = 0",
                           "SET_BITRATE(0, 0x80, 500000) = 0",
                           "SET_OUTPUT(0, 0x80, 1) = 0",
                           "SET_ACCEPTANCE(0, 0x80, 0x120/0x7F0) = 0",
                           "SET_ACCEPTANCE(0, 0x80, 0x80ABCD00/0x9FFFFF00) = 0",
                           "SET_MODE(0, 0x80, 0, 0) = 0",
                           "ACTIVATE(0, 0x80) = 0",
                       }));
    EXPECT_EQ(readSettingsFile(), "[OTHER]\r\nKEY=kept\r\n[MORVANTIS]\r\n"
                                  "BITRATE=500\r\n"
                                  "CHANNEL_INDEX=7\r\n"
                                  "GLOBALMASKSTD=0x000007F0\r\n"
                                  "GLOBALCODESTD=0x00000120\r\n"
                                  "GLOBALMASKXTD=0x1FFFFF00\r\n"
                                  "GLOBALCODEXTD=0x00ABCD00\r\n");
}

TEST_F(SetupDialog, CancelRestartsNothingAndWritesNothing)
{
    restore(settings(2, 250, 4, 0x7FF, 0x100, 0x1000, 0x2000));
    Session session;
    const Actions change = [](InMemoryDialog& dialog) {
        dialog.selectListEntry(IDC_CHANNEL_INDEX, 0);
        dialog.selectListEntry(IDC_BITRATE, 0);
        dialog.type(IDC_GLOBAL_MASK_STD, "1");
        dialog.type(IDC_GLOBAL_CODE_STD, "1");
        dialog.type(IDC_GLOBAL_MASK_XTD, "1");
        dialog.type(IDC_GLOBAL_CODE_XTD, "1");
    };
    EXPECT_EQ(runDialog(session, change, kCancel), 1);
    EXPECT_TRUE(calls().empty());
    EXPECT_FALSE(std::filesystem::exists(settingsFile()));
    EXPECT_TRUE(boxes.empty());
    // Only the index the opening found for 250 remains.
    EXPECT_EQ(fields(current()), fields(settings(2, 250, 6, 0x7FF, 0x100, 0x1000, 0x2000)));
}

TEST_F(SetupDialog, OtherCommandsDoNothing)
{
    Session session;
    host::SetDialogUser([&](InMemoryDialog& dialog) {
        dialog.type(IDC_GLOBAL_MASK_STD, "7FF");
        for (const std::int32_t command : {0, 3, IDC_CHANNEL_INDEX, IDC_GLOBAL_MASK_STD}) {
            dialog.press(command);
        }
        EXPECT_FALSE(dialog.ended());
        dialog.press(kCancel);
    });
    EXPECT_EQ(CAN_InterfaceSetup(nullptr), 1);
    EXPECT_TRUE(calls().empty());
    EXPECT_EQ(libraryState.settings.globalMaskStd, 0);
}

struct FailingRestart {
    const char* name;
    SimOp op;
    std::uint16_t status; // 0: the driver does its work
    std::int32_t channel; // the channel picked in the dialog, or -1 for none
    std::vector<std::string> texts;
};

TEST_F(SetupDialog, FailingRestartShowsTheBoxesOwnedByTheDialogAndKeepsTheFile)
{
    const std::string dialogBox = "Could not init CAN with these settings !";
    const FailingRestart cases[] = {
        {"refused activation",
         SIM_ACTIVATE,
         NCD_PORT_IS_OFFLINE,
         0,
         {"Could not ActivateChannel\n Reason: PORT_IS_OFFLINE (e.g. CANCAB not connected) "
          "(code 113) !",
          dialogBox}},
        {"no channel mask for the kept index 25",
         SIM_OPEN_DRIVER,
         0,
         -1,
         {"Could not GetChannelMask\n !", dialogBox}},
        {"driver not opened, no status box", SIM_OPEN_DRIVER, 201, 0, {dialogBox}},
    };
    const std::string before = "[MORVANTIS]\r\nCHANNEL_INDEX=25\r\nBITRATE=100\r\n";
    for (const FailingRestart& c : cases) {
        SCOPED_TRACE(c.name);
        simReset();
        simSetStatus(c.op, c.status);
        boxes.clear();
        writeSettingsFile(before);
        restore(settings(25, 100, 4));
        libraryState.connection = DriverConnection{};
        Session session;
        const Actions change = [&c](InMemoryDialog& dialog) {
            if (c.channel >= 0) {
                dialog.selectListEntry(IDC_CHANNEL_INDEX, c.channel);
            }
            dialog.selectListEntry(IDC_BITRATE, 6);
            dialog.type(IDC_GLOBAL_MASK_STD, "7FF");
        };
        EXPECT_EQ(runDialog(session, change, kOk), 1);

        std::vector<std::string> texts;
        for (const host::MessageBoxCall& box : boxes) {
            texts.push_back(box.text);
            EXPECT_EQ(box.owner, session.window);
            EXPECT_EQ(box.caption, "morvantis.dll");
        }
        EXPECT_EQ(texts, c.texts);
        const std::int32_t channel = c.channel >= 0 ? c.channel : 25;
        EXPECT_EQ(fields(current()), fields(settings(channel, 250, 6, 0x7FF)));
        EXPECT_EQ(readSettingsFile(), before);
        EXPECT_FALSE(libraryState.connection.initialised);
    }
}

TEST_F(SetupDialog, StatusBoxesOutsideTheDialogHaveNoOwnerAgain)
{
    simSetStatus(SIM_ACTIVATE, NCD_PORT_IS_OFFLINE);
    Session session;
    runDialog(session, {}, kOk);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].owner, session.window);

    EXPECT_EQ(CAN_Init(), -1);
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[2].owner, nullptr);
}

TEST_F(SetupDialog, InformationNamesTheChosenChannelAfterAFailedRestart)
{
    simSetStatus(SIM_SET_BITRATE, NCD_WRONG_PARAMETER);
    Session session;
    runDialog(session, pick(IDC_CHANNEL_INDEX, 6), kOk);
    CanDllInfo info{};
    ASSERT_EQ(CAN_DLL_Info(&info), 0);
    EXPECT_STREQ(info.channelName, "Leaf-USB");
}

} // namespace
} // namespace morvantis::testing
