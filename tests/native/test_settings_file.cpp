#include "fixture.h"

#include "api/dll_entry.h"
#include "settings/settings_file.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>

namespace morvantis::testing {
namespace {

using std::string_literals::operator""s;

constexpr std::int32_t bits(std::uint32_t pattern)
{
    return static_cast<std::int32_t>(pattern);
}

// The fields in the order of the record, for comparisons that name the
// field that differs.
std::array<std::int32_t, 6> fields(const CanSettings& s)
{
    return {s.channelIndex,  s.bitrate,       s.globalMaskStd,
            s.globalCodeStd, s.globalMaskXtd, s.globalCodeXtd};
}

void load()
{
    AccessSettingsFile(kSettingsFileName, kSettingsLoad);
}

void save()
{
    AccessSettingsFile(kSettingsFileName, kSettingsSave);
}

std::size_t filesIn(const std::filesystem::path& directory)
{
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(directory),
                                                  std::filesystem::directory_iterator()));
}

// Settings that differ from the defaults in every saved field, bit 31
// patterns included.
const CanSettings kCustom{.channelIndex = 11,
                          .bitrate = 500,
                          .globalMaskStd = bits(0x80000000u),
                          .globalCodeStd = bits(0xFFFFFFFFu),
                          .globalMaskXtd = bits(0x9FFFFFFFu),
                          .globalCodeXtd = 0x12345};

using SettingsFile = LibraryTest;

TEST_F(SettingsFile, SaveOfTheDefaultsWritesTheSevenLines)
{
    save();
    EXPECT_EQ(readSettingsFile(), "[MORVANTIS]\r\n"
                                  "CHANNEL_INDEX=2\r\n"
                                  "BITRATE=100\r\n"
                                  "GLOBALMASKSTD=0x00000000\r\n"
                                  "GLOBALCODESTD=0x00000000\r\n"
                                  "GLOBALMASKXTD=0x00000000\r\n"
                                  "GLOBALCODEXTD=0x00000000\r\n");
}

TEST_F(SettingsFile, SaveFormatsDecimalAndEightHexDigits)
{
    libraryState.settings = {.channelIndex = -1,
                             .bitrate = INT32_MIN,
                             .globalMaskStd = 0x7FF,
                             .globalCodeStd = bits(0xFFFFFFFFu),
                             .globalMaskXtd = bits(0x9FFFFFFFu),
                             .globalCodeXtd = 0xabc};
    save();
    EXPECT_EQ(readSettingsFile(), "[MORVANTIS]\r\n"
                                  "CHANNEL_INDEX=-1\r\n"
                                  "BITRATE=-2147483648\r\n"
                                  "GLOBALMASKSTD=0x000007FF\r\n"
                                  "GLOBALCODESTD=0xFFFFFFFF\r\n"
                                  "GLOBALMASKXTD=0x9FFFFFFF\r\n"
                                  "GLOBALCODEXTD=0x00000ABC\r\n");
}

TEST_F(SettingsFile, SaveThenLoadGivesBackEveryField)
{
    const CanSettings cases[] = {
        {},
        kCustom,
        {.channelIndex = INT32_MIN,
         .bitrate = INT32_MAX,
         .globalMaskStd = INT32_MAX,
         .globalCodeStd = INT32_MIN,
         .globalMaskXtd = -2,
         .globalCodeXtd = bits(0x80000001u)},
        {.channelIndex = 0, .bitrate = 0, .globalMaskStd = 0x7FF, .globalMaskXtd = 0x1FFFFFFF},
    };
    // Each save overwrites the file the one before wrote.
    for (const CanSettings& saved : cases) {
        SCOPED_TRACE("channel index " + std::to_string(saved.channelIndex));
        libraryState.settings = saved;
        save();
        libraryState.settings = CanSettings{.channelIndex = 1,
                                            .bitrate = 1,
                                            .globalMaskStd = 1,
                                            .globalCodeStd = 1,
                                            .globalMaskXtd = 1,
                                            .globalCodeXtd = 1};
        load();
        EXPECT_EQ(fields(libraryState.settings), fields(saved));
        EXPECT_EQ(libraryState.setupDialog.bitrateIndex, 4); // not in the file
    }
}

TEST_F(SettingsFile, SaveKeepsEverythingElseInTheFileByteForByte)
{
    writeSettingsFile("; settings, edited by hand\r\n"
                      "[Other]\r\n"
                      "BITRATE=1000\r\n"
                      "\r\n"
                      "[morvantis]\r\n"
                      "bitrate = 500\r\n"
                      "; the channel of the test bench\r\n"
                      "EXTRA=keep me\r\n"
                      "CHANNEL_INDEX=7\r\n"
                      "\r\n"
                      "[Last]\r\n"
                      "key=value");
    libraryState.settings = {.channelIndex = 5,
                             .bitrate = 250,
                             .globalMaskStd = 0x7FF,
                             .globalCodeStd = 0x123,
                             .globalMaskXtd = 0x1FFFFFFF,
                             .globalCodeXtd = bits(0x80000000u)};
    save();
    EXPECT_EQ(readSettingsFile(), "; settings, edited by hand\r\n"
                                  "[Other]\r\n"
                                  "BITRATE=1000\r\n"
                                  "\r\n"
                                  "[morvantis]\r\n"
                                  "bitrate=250\r\n"
                                  "; the channel of the test bench\r\n"
                                  "EXTRA=keep me\r\n"
                                  "CHANNEL_INDEX=5\r\n"
                                  "GLOBALMASKSTD=0x000007FF\r\n"
                                  "GLOBALCODESTD=0x00000123\r\n"
                                  "GLOBALMASKXTD=0x1FFFFFFF\r\n"
                                  "GLOBALCODEXTD=0x80000000\r\n"
                                  "\r\n"
                                  "[Last]\r\n"
                                  "key=value");
    EXPECT_EQ(filesIn(directory), 1u);
}

TEST_F(SettingsFile, SaveThatCannotBeWrittenLeavesFileAndFieldsAsTheyWere)
{
    const std::string old = "[MORVANTIS]\nBITRATE=250\n";
    libraryState.settings = kCustom;

    host::FailProfileWrites(true);
    save();
    EXPECT_FALSE(std::filesystem::exists(settingsFile()));
    writeSettingsFile(old);
    save();
    EXPECT_EQ(readSettingsFile(), old);
    host::FailProfileWrites(false);

    // A temporary file that cannot be created stops the real write too.
    std::filesystem::create_directory(settingsFile().string() + ".new~");
    save();
    EXPECT_EQ(readSettingsFile(), old);
    EXPECT_EQ(fields(libraryState.settings), fields(kCustom));
}

struct LoadCase {
    const char* what;
    std::string file;
    CanSettings expected;
};

TEST_F(SettingsFile, LoadReadsEachKeyInItsBase)
{
    const std::string longDecimal = std::string(78, '0') + "7" + std::string(5000, '9');
    const std::string longHex = "0x" + std::string(76, '0') + "1" + std::string(5000, 'F');
    const LoadCase cases[] = {
        {"only the bitrate", "[MORVANTIS]\r\nBITRATE=250\r\n", {.bitrate = 250}},
        {"all six keys",
         "[MORVANTIS]\r\nCHANNEL_INDEX=18\r\nBITRATE=1000\r\nGLOBALMASKSTD=0x000007FF\r\n"
         "GLOBALCODESTD=0x00000123\r\nGLOBALMASKXTD=0x1FFFFFFF\r\nGLOBALCODEXTD=0x00ABCDEF\r\n",
         {.channelIndex = 18,
          .bitrate = 1000,
          .globalMaskStd = 0x7FF,
          .globalCodeStd = 0x123,
          .globalMaskXtd = 0x1FFFFFFF,
          .globalCodeXtd = 0xABCDEF}},
        {"empty value",
         "[MORVANTIS]\nBITRATE=\nCHANNEL_INDEX=\n",
         {.channelIndex = 0, .bitrate = 0}},
        {"hexadecimal text in a decimal key",
         "[MORVANTIS]\nCHANNEL_INDEX=0x3\n",
         {.channelIndex = 0}},
        {"unit after the number", "[MORVANTIS]\nBITRATE=125kbit\n", {.bitrate = 125}},
        {"leading blank, no prefix",
         "[MORVANTIS]\nGLOBALCODESTD= 0x00000123\nGLOBALMASKSTD=7FF\n",
         {.globalMaskStd = 0x7FF, .globalCodeStd = 0x123}},
        {"bit 31 patterns",
         "[MORVANTIS]\nGLOBALMASKXTD=0x9FFFFFFF\nGLOBALCODEXTD=0xFFFFFFFF\n"
         "GLOBALMASKSTD=-1\nGLOBALCODESTD=0x123456789\n",
         {.globalMaskStd = bits(0xFFFFFFFFu),
          .globalCodeStd = bits(0xFFFFFFFFu),
          .globalMaskXtd = bits(0x9FFFFFFFu),
          .globalCodeXtd = bits(0xFFFFFFFFu)}},
        {"decimal out of range saturates",
         "[MORVANTIS]\nCHANNEL_INDEX=99999999999\nBITRATE=-99999999999\n",
         {.channelIndex = INT32_MAX, .bitrate = INT32_MIN}},
        {"names in another case",
         "[morvantis]\nbitrate=500\nChannel_Index=3\n",
         {.channelIndex = 3, .bitrate = 500}},
        {"values of thousands of characters are cut to 79",
         "[MORVANTIS]\nBITRATE=" + longDecimal + "\nGLOBALMASKSTD=" + longHex + "\n",
         {.bitrate = 7, .globalMaskStd = 1}},
        {"NUL ends the value", "[MORVANTIS]\nBITRATE=25\0"s + "0\n", {.bitrate = 25}},
        {"binary bytes",
         "\xff\xfe\x01\n[MORVANTIS]\nCHANNEL_INDEX=\x80\x01\nBITRATE=\t\xff\n",
         {.channelIndex = 0, .bitrate = 0}},
        {"bare CR line ends, no final line end",
         "[MORVANTIS]\rBITRATE=250\rCHANNEL_INDEX=5",
         {.channelIndex = 5, .bitrate = 250}},
        {"duplicate sections and keys: the first counts",
         "[MORVANTIS]\nBITRATE=250\nBITRATE=500\n[MORVANTIS]\nBITRATE=1000\nCHANNEL_INDEX=7\n",
         {.bitrate = 250}},
        {"keys outside the section", "BITRATE=500\n[OTHER]\nCHANNEL_INDEX=9\n[MORVANTIS]\n", {}},
        {"the bitrate index is not a key", "[MORVANTIS]\nBITRATEINDEX=6\nbitrateIndex=6\n", {}},
    };
    for (const LoadCase& c : cases) {
        SCOPED_TRACE(c.what);
        libraryState.settings = CanSettings{};
        writeSettingsFile(c.file);
        load();
        EXPECT_EQ(fields(libraryState.settings), fields(c.expected));
    }
}

TEST_F(SettingsFile, MissingKeysKeepTheFieldsAsTheyWere)
{
    libraryState.settings = kCustom;
    writeSettingsFile("[MORVANTIS]\nBITRATE=250\n[OTHER]\nCHANNEL_INDEX=1\n");
    load();
    CanSettings expected = kCustom;
    expected.bitrate = 250;
    EXPECT_EQ(fields(libraryState.settings), fields(expected));
}

TEST_F(SettingsFile, LoadWithoutAFileKeepsTheFieldsAndCreatesNone)
{
    libraryState.settings = kCustom;
    load();
    EXPECT_EQ(fields(libraryState.settings), fields(kCustom));
    EXPECT_EQ(filesIn(directory), 0u);
}

TEST_F(SettingsFile, OtherModesReadAndWriteNothing)
{
    const std::string file = "[MORVANTIS]\nBITRATE=250\n";
    for (const std::int32_t mode : {2, -1, INT32_MIN, INT32_MAX}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        std::filesystem::remove(settingsFile());
        libraryState.settings = kCustom;
        AccessSettingsFile(kSettingsFileName, mode);
        EXPECT_EQ(filesIn(directory), 0u);

        writeSettingsFile(file);
        AccessSettingsFile(kSettingsFileName, mode);
        EXPECT_EQ(readSettingsFile(), file);
        EXPECT_EQ(fields(libraryState.settings), fields(kCustom));
    }
}

TEST_F(SettingsFile, NameTooLongForThePathIsIgnored)
{
    const std::string name(300, 'N');
    libraryState.settings = kCustom;
    AccessSettingsFile(name.c_str(), kSettingsSave);
    AccessSettingsFile(name.c_str(), kSettingsLoad);
    EXPECT_EQ(filesIn(directory), 0u);
    EXPECT_EQ(fields(libraryState.settings), fields(kCustom));
}

using EntryPoint = LibraryTest;

TEST_F(EntryPoint, ProcessAttachKeepsTheHandleAndLoadsFromTheCurrentDirectory)
{
    int module = 0;
    writeSettingsFile("[MORVANTIS]\r\nBITRATE=250\r\nGLOBALMASKXTD=0x9FFFFFFF\r\n");
    EXPECT_EQ(DllEntryPoint(&module, 1, nullptr), 1);
    EXPECT_EQ(libraryState.moduleHandle, &module);
    EXPECT_EQ(fields(libraryState.settings),
              fields(CanSettings{.bitrate = 250, .globalMaskXtd = bits(0x9FFFFFFFu)}));
    EXPECT_TRUE(calls().empty());
}

TEST_F(EntryPoint, ProcessAttachWithoutAFileKeepsTheDefaults)
{
    int module = 0;
    EXPECT_EQ(DllEntryPoint(&module, 1, nullptr), 1);
    EXPECT_EQ(libraryState.moduleHandle, &module);
    EXPECT_EQ(fields(libraryState.settings), fields(CanSettings{}));
    EXPECT_EQ(filesIn(directory), 0u);
}

TEST_F(EntryPoint, OtherReasonsChangeNothing)
{
    int module = 0;
    writeSettingsFile("[MORVANTIS]\r\nBITRATE=250\r\n");
    for (const std::uint32_t reason : {0u, 2u, 3u, 4u, 0xFFFFFFFFu}) {
        SCOPED_TRACE("reason " + std::to_string(reason));
        EXPECT_EQ(DllEntryPoint(&module, reason, nullptr), 1);
        EXPECT_EQ(libraryState.moduleHandle, nullptr);
        EXPECT_EQ(fields(libraryState.settings), fields(CanSettings{}));
    }
    EXPECT_EQ(filesIn(directory), 1u);
    EXPECT_TRUE(calls().empty());
}

} // namespace
} // namespace morvantis::testing
