#include "fixture.h"

#include "platform/host/ini_file.h"
#include "platform/platform.h"

#include <filesystem>
#include <optional>
#include <string>

namespace morvantis::testing {
namespace {

using std::string_literals::operator""s;

struct ReadCase {
    const char* what;
    std::string text;
    const char* section;
    const char* key;
    std::optional<std::string> expected;
};

TEST(IniRead, FindsTheFirstMatchingSectionAndKey)
{
    const ReadCase cases[] = {
        {"plain", "[S]\r\nK=1\r\n", "S", "K", "1"},
        {"empty text", "", "S", "K", std::nullopt},
        {"missing section", "[T]\r\nK=1\r\n", "S", "K", std::nullopt},
        {"missing key", "[S]\r\nL=1\r\n", "S", "K", std::nullopt},
        {"key of another section", "[S]\r\n[T]\r\nK=1\r\n", "S", "K", std::nullopt},
        {"names ignore case", "[morvantis]\nBitRate=250\n", "MORVANTIS", "BITRATE", "250"},
        {"blanks around names and value", "  [ S ]  \n \t K \t= \t 1 2 \t\n", "S", "K", "1 2"},
        {"empty value is present", "[S]\nK=\nL=2\n", "S", "K", ""},
        {"only blanks as value", "[S]\nK=  \t\n", "S", "K", ""},
        {"equals sign in the value", "[S]\nK=a=b\n", "S", "K", "a=b"},
        {"text after the bracket", "[S] ; note\nK=1\n", "S", "K", "1"},
        {"first of duplicate keys", "[S]\nK=1\nK=2\n", "S", "K", "1"},
        {"first of duplicate sections", "[S]\nK=1\n[S]\nK=2\n", "S", "K", "1"},
        {"key only in a duplicate section", "[S]\nL=1\n[S]\nK=2\n", "S", "K", std::nullopt},
        {"key outside any section", "K=1\n[S]\nL=2\n", "S", "K", std::nullopt},
        {"comment is no key", "[S]\n;K=1\n", "S", "K", std::nullopt},
        {"line without equals sign", "[S]\nK\n", "S", "K", std::nullopt},
        {"unclosed bracket is no section", "[S\nK=1\n", "S", "K", std::nullopt},
        {"bare CR line ends", "[A]\rK=0\r[S]\rK=1\rL=2", "S", "K", "1"},
        {"mixed line ends", "[S]\r\nJ=0\rK=1\nL=2\r\n", "S", "K", "1"},
        {"no final line end", "[S]\nK=1", "S", "K", "1"},
        {"NUL and binary bytes", "\xff\xfe\0\n[S]\nK=\x01\0\x80x\n"s, "S", "K", "\x01\0\x80x"s},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(host::IniText(c.text).get(c.section, c.key), c.expected);
    }
}

struct WriteCase {
    const char* what;
    std::string before;
    const char* section;
    const char* key;
    const char* value;
    std::string after;
};

TEST(IniWrite, ChangesOnlyTheKeysOwnLine)
{
    const WriteCase cases[] = {
        {"new text", "", "S", "K", "1", "[S]\r\nK=1\r\n"},
        {"replace, CR LF", "[S]\r\nJ=0\r\nK=1\r\nL=2\r\n", "S", "K", "9",
         "[S]\r\nJ=0\r\nK=9\r\nL=2\r\n"},
        {"replace, LF", "[S]\nJ=0\nK=1\nL=2\n", "S", "K", "9", "[S]\nJ=0\nK=9\nL=2\n"},
        {"replace, bare CR", "[S]\rJ=0\rK=1\rL=2\r", "S", "K", "9", "[S]\rJ=0\rK=9\rL=2\r"},
        {"replace the last line, no final line end", "[S]\nK=1", "S", "K", "99", "[S]\nK=99"},
        {"replace keeps the file's spelling of the key", "[s]\n  k = 1  \n", "S", "K", "2",
         "[s]\nk=2\n"},
        {"replace an empty value", "[S]\nK=\n", "S", "K", "3", "[S]\nK=3\n"},
        {"replace the first of duplicate keys", "[S]\nK=1\nK=2\n", "S", "K", "3",
         "[S]\nK=3\nK=2\n"},
        {"add a key to the end of its section", "[S]\nJ=0\n\n[T]\nK=1\n", "S", "K", "2",
         "[S]\nJ=0\nK=2\n\n[T]\nK=1\n"},
        {"add a key after a comment", "[S]\n; note\n", "S", "K", "2", "[S]\n; note\nK=2\n"},
        {"add a key among mixed line ends: it ends as the line above", "; x\r[S]\nJ=0\n\n[T]\n",
         "S", "K", "2", "; x\r[S]\nJ=0\nK=2\n\n[T]\n"},
        {"add a key to the first of duplicate sections", "[S]\nJ=0\n[S]\nK=1\n", "S", "K", "2",
         "[S]\nJ=0\nK=2\n[S]\nK=1\n"},
        {"add a key to a section header without line end", "[S]", "S", "K", "2", "[S]\r\nK=2\r\n"},
        {"add a key below a last line without line end", "[S]\nJ=0", "S", "K", "2",
         "[S]\nJ=0\nK=2\n"},
        {"add a section, no final line end", "; top\r\nK=1", "S", "K", "2",
         "; top\r\nK=1\r\n[S]\r\nK=2\r\n"},
        {"add a section, key outside any section untouched", "K=1\n[T]\nK=1\n", "S", "K", "2",
         "K=1\n[T]\nK=1\n[S]\nK=2\n"},
        {"add a section after binary lines", "\x80\0\xff\r[T]\r"s, "S", "K", "2",
         "\x80\0\xff\r[T]\r[S]\rK=2\r"s},
    };
    for (const WriteCase& c : cases) {
        SCOPED_TRACE(c.what);
        host::IniText ini(c.before);
        ini.set(c.section, c.key, c.value);
        EXPECT_EQ(ini.text(), c.after);
        EXPECT_EQ(ini.get(c.section, c.key), c.value);
    }
}

// The profile functions over real files, in the fixture's own directory.
using ProfileFile = LibraryTest;

TEST_F(ProfileFile, ReadGivesTheDefaultWhenFileSectionOrKeyIsMissing)
{
    char buffer[80];
    const std::string path = settingsFile().string();
    platform::ReadProfileValue("S", "K", "default", buffer, sizeof buffer, path.c_str());
    EXPECT_STREQ(buffer, "default");
    EXPECT_FALSE(std::filesystem::exists(settingsFile()));

    writeSettingsFile("[S]\nL=1\n[T]\nK=2\n");
    platform::ReadProfileValue("S", "K", "default", buffer, sizeof buffer, path.c_str());
    EXPECT_STREQ(buffer, "default");
    platform::ReadProfileValue("U", "K", "default", buffer, sizeof buffer, path.c_str());
    EXPECT_STREQ(buffer, "default");
}

TEST_F(ProfileFile, ReadCutsTheValueToTheBufferAndAtANul)
{
    writeSettingsFile("[S]\nLONG=" + std::string(5000, 'a') + "b\nNUL=12\0"s + "34\n");
    const std::string path = settingsFile().string();
    char buffer[81];
    buffer[80] = '#';
    platform::ReadProfileValue("S", "LONG", "", buffer, 80, path.c_str());
    EXPECT_EQ(std::string(buffer), std::string(79, 'a'));
    EXPECT_EQ(buffer[80], '#');
    platform::ReadProfileValue("S", "NUL", "", buffer, 80, path.c_str());
    EXPECT_STREQ(buffer, "12");
}

TEST_F(ProfileFile, WriteLeavesNoTemporaryFileBehind)
{
    const std::string path = settingsFile().string();
    platform::WriteProfileValue("S", "K", "1", path.c_str());
    platform::WriteProfileValue("S", "K", "2", path.c_str());
    EXPECT_EQ(readSettingsFile(), "[S]\r\nK=2\r\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(directory),
                            std::filesystem::directory_iterator()),
              1);
}

TEST_F(ProfileFile, FailedWriteLeavesTheOldFileIntact)
{
    const std::string old = "; hand-made\n[S]\nK=1\n[T]\nL=2";
    const std::string path = settingsFile().string();

    // The platform refuses every write.
    writeSettingsFile(old);
    host::FailProfileWrites(true);
    platform::WriteProfileValue("S", "K", "9", path.c_str());
    platform::WriteProfileValue("N", "K", "9", path.c_str());
    EXPECT_EQ(readSettingsFile(), old);
    host::FailProfileWrites(false);

    // The temporary file cannot be created: the write gives up before it
    // touches the file itself.
    std::filesystem::create_directory(path + ".new~");
    platform::WriteProfileValue("S", "K", "9", path.c_str());
    EXPECT_EQ(readSettingsFile(), old);
}

TEST_F(ProfileFile, WriteOverSomethingUnreadableChangesNothing)
{
    // A directory where the file should be cannot be read, so it is not
    // replaced by a file holding only the one key.
    std::filesystem::create_directory(settingsFile());
    platform::WriteProfileValue("S", "K", "1", settingsFile().string().c_str());
    EXPECT_TRUE(std::filesystem::is_directory(settingsFile()));
    EXPECT_FALSE(std::filesystem::exists(settingsFile().string() + ".new~"));
}

TEST(IniFiles, ReplaceAndReadBackKeepEveryByte)
{
    std::string pattern = (std::filesystem::temp_directory_path() / "morvantis-ini-XXXXXX");
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    const std::string path = pattern + "/file.ini";
    EXPECT_EQ(host::ReadTextFile(path), std::nullopt);

    std::string bytes;
    for (int i = 0; i < 3 * 4096 + 17; ++i) {
        bytes += static_cast<char>(i * 7);
    }
    EXPECT_TRUE(host::ReplaceTextFile(path, bytes));
    EXPECT_EQ(host::ReadTextFile(path), bytes);
    EXPECT_TRUE(host::ReplaceTextFile(path, ""));
    EXPECT_EQ(host::ReadTextFile(path), "");
    std::filesystem::remove_all(pattern);
}

} // namespace
} // namespace morvantis::testing
