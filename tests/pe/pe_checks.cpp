// Static checks of the shipped 32-bit morvantis.dll, and of the simulated
// VCAND32.DLL whose operations our import library declares: what the
// Windows loader, applications and tools read from the files. Arguments:
// the build directory of the 32-bit DLLs, then the objdump to disassemble
// them with.
#include "machine_code.h"
#include "pe_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

namespace {

std::string directory;
std::string objdump;

constexpr std::uint16_t kMachineI386 = 0x14C;
constexpr std::uint16_t kImageDll = 0x2000;
constexpr std::uint16_t kVersionResource = 16;

struct Function {
    const char* name;
    int bytes; // of arguments, removed on return
};

// Ordinals 1 to 14, in this order.
constexpr Function kExports[] = {
    {"CAN_Init", 0},        {"CAN_Exit", 0},           {"CAN_Reset", 0},
    {"CAN_Bitrate", 4},     {"CAN_Read_Msg", 4},       {"CAN_Send_Msg", 4},
    {"CAN_Send_RTR", 4},    {"CAN_Read_extMsg", 4},    {"CAN_Send_extMsg", 4},
    {"CAN_Send_extRTR", 4}, {"CAN_InterfaceSetup", 4}, {"CAN_DLL_Info", 4},
    {"CAN_Status", 4},      {"CAN_Init_One_ID", 8},
};

constexpr Function kDriverOperations[] = {
    {"ncdOpenDriver", 0},        {"ncdCloseDriver", 0},
    {"ncdGetChannelMask", 12},   {"ncdOpenPort", 24},
    {"ncdClosePort", 4},         {"ncdSetChannelBitrate", 12},
    {"ncdSetChannelOutput", 12}, {"ncdSetChannelAcceptance", 12},
    {"ncdSetChannelMode", 16},   {"ncdActivateChannel", 8},
    {"ncdReceive1", 8},          {"ncdTransmit", 12},
};

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// DLLs that every Windows installation has.
bool isSystemDll(const std::string& name)
{
    static const std::set<std::string> system = {"kernel32.dll", "user32.dll", "gdi32.dll",
                                                 "advapi32.dll", "ntdll.dll",  "msvcrt.dll",
                                                 "ucrtbase.dll"};
    const std::string dll = lower(name);
    return system.count(dll) != 0 || dll.rfind("api-ms-win-", 0) == 0;
}

std::string join(const std::vector<std::string>& names)
{
    std::string text;
    for (const std::string& name : names) {
        text += (text.empty() ? "" : " ") + name;
    }
    return text;
}

class Dll : public ::testing::Test {
protected:
    static pe::File load(const char* name)
    {
        pe::File file(directory + "/" + name);
        EXPECT_EQ(file.error(), "");
        return file;
    }

    // Every function of `functions`, found by name among the exports of
    // `file`, must remove its bytes at every return its code can reach.
    template <std::size_t N>
    static void expectStackCleanUp(const char* dll, const pe::File& file,
                                   const Function (&functions)[N])
    {
        const pe::MachineCode code(objdump, directory + "/" + dll);
        ASSERT_EQ(code.error(), "");
        const std::vector<pe::Export> exports = file.exports();
        for (const Function& function : functions) {
            SCOPED_TRACE(function.name);
            const auto found =
                std::find_if(exports.begin(), exports.end(),
                             [&](const pe::Export& e) { return e.name == function.name; });
            ASSERT_NE(found, exports.end());
            const pe::MachineCode::Returns returns =
                code.returnsFrom(file.imageBase() + found->rva);
            EXPECT_EQ(returns.problem, "");
            EXPECT_EQ(returns.bytesRemoved, std::set<int>{function.bytes});
        }
    }
};

using MorvantisDll = Dll;
using SimulatedDriverDll = Dll;

TEST_F(MorvantisDll, IsA32BitWindowsDll)
{
    const pe::File dll = load("morvantis.dll");
    EXPECT_EQ(dll.machine(), kMachineI386);
    EXPECT_EQ(dll.optionalMagic(), 0x10B);
    EXPECT_NE(dll.characteristics() & kImageDll, 0);
}

TEST_F(MorvantisDll, ExportsTheFourteenFunctionsUndecoratedAtTheirOrdinals)
{
    const pe::File dll = load("morvantis.dll");
    EXPECT_EQ(dll.exportName(), "morvantis.dll");
    EXPECT_EQ(dll.ordinalBase(), 1u);
    const std::vector<pe::Export> exports = dll.exports();
    ASSERT_EQ(exports.size(), std::size(kExports));
    for (std::size_t i = 0; i < exports.size(); ++i) {
        EXPECT_EQ(exports[i].ordinal, i + 1);
        EXPECT_EQ(exports[i].name, kExports[i].name) << "at ordinal " << i + 1;
        EXPECT_NE(exports[i].rva, 0u);
    }
    // The loader looks names up by binary search.
    const std::vector<std::string> names = dll.exportNameTable();
    EXPECT_EQ(names.size(), std::size(kExports));
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end())) << join(names);
}

TEST_F(MorvantisDll, ImportsTheTwelveDriverOperationsByName)
{
    const pe::File dll = load("morvantis.dll");
    std::vector<std::string> expected;
    for (const Function& operation : kDriverOperations) {
        expected.push_back(operation.name);
    }
    std::sort(expected.begin(), expected.end());
    int found = 0;
    for (const pe::ImportedDll& imported : dll.imports()) {
        if (imported.name != "VCAND32.DLL") {
            continue;
        }
        ++found;
        std::vector<std::string> names = imported.byName;
        std::sort(names.begin(), names.end());
        EXPECT_EQ(join(names), join(expected));
        EXPECT_TRUE(imported.byOrdinal.empty());
    }
    EXPECT_EQ(found, 1);
}

TEST_F(MorvantisDll, ImportsFromNothingButSystemDllsAndTheDriver)
{
    const pe::File dll = load("morvantis.dll");
    const std::vector<pe::ImportedDll> imports = dll.imports();
    EXPECT_FALSE(imports.empty());
    for (const pe::ImportedDll& imported : imports) {
        EXPECT_TRUE(imported.name == "VCAND32.DLL" || isSystemDll(imported.name)) << imported.name;
    }
}

TEST_F(MorvantisDll, CarriesItsVersionResource)
{
    const pe::File dll = load("morvantis.dll");
    const std::vector<std::uint8_t> data = dll.resource(kVersionResource, 1);
    ASSERT_FALSE(data.empty());
    std::string error;
    const pe::VersionNode root = pe::parseVersion(data, error);
    ASSERT_EQ(error, "");
    EXPECT_EQ(root.key, "VS_VERSION_INFO");

    // VS_FIXEDFILEINFO: signature, structure version, then the file and
    // product versions as most and least significant halves.
    ASSERT_EQ(root.value.size(), 52u);
    const auto dword = [&](std::size_t index) {
        std::uint32_t value = 0;
        for (int byte = 3; byte >= 0; --byte) {
            value = value << 8 | root.value[4 * index + static_cast<std::size_t>(byte)];
        }
        return value;
    };
    EXPECT_EQ(dword(0), 0xFEEF04BDu);
    EXPECT_EQ(dword(2), 0x00010000u); // file version 1.0
    EXPECT_EQ(dword(3), 0x00000000u); //              .0.0
    EXPECT_EQ(dword(4), 0x00000000u); // product version 0.0
    EXPECT_EQ(dword(5), 0x00000000u); //                 .0.0

    const pe::VersionNode* strings = root.child("StringFileInfo");
    ASSERT_NE(strings, nullptr);
    const pe::VersionNode* table = strings->child("040904E4");
    ASSERT_NE(table, nullptr);
    const struct {
        const char* key;
        const char* value;
    } expected[] = {
        {"FileVersion", "V1.00r0"},
        {"InternalName", "morvantis.dll"},
        {"OriginalFilename", "morvantis.dll"},
    };
    for (const auto& entry : expected) {
        const pe::VersionNode* value = table->child(entry.key);
        ASSERT_NE(value, nullptr) << entry.key;
        EXPECT_TRUE(value->text) << entry.key;
        EXPECT_EQ(value->textValue(), entry.value) << entry.key;
    }

    const pe::VersionNode* variables = root.child("VarFileInfo");
    ASSERT_NE(variables, nullptr);
    const pe::VersionNode* translation = variables->child("Translation");
    ASSERT_NE(translation, nullptr);
    EXPECT_EQ(translation->value, (std::vector<std::uint8_t>{0x09, 0x04, 0xE4, 0x04}));
}

TEST_F(MorvantisDll, EachExportRemovesItsArgumentsOnReturn)
{
    const pe::File dll = load("morvantis.dll");
    expectStackCleanUp("morvantis.dll", dll, kExports);
}

TEST_F(SimulatedDriverDll, EachOperationRemovesItsArgumentsOnReturn)
{
    const pe::File dll = load("VCAND32.DLL");
    EXPECT_EQ(dll.machine(), kMachineI386);
    expectStackCleanUp("VCAND32.DLL", dll, kDriverOperations);
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (argc != 3 && !GTEST_FLAG_GET(list_tests)) {
        std::fprintf(stderr, "usage: %s <directory of the 32-bit DLLs> <objdump>\n", argv[0]);
        return 2;
    }
    if (argc == 3) {
        directory = argv[1];
        objdump = argv[2];
    }
    return RUN_ALL_TESTS();
}
