// The setup dialog's template as morvantis.dll carries it: the classic
// DLGTEMPLATE form, read byte by byte from the loaded module's resource.
#include "fixture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr WORD kGerman = 0x0407;
constexpr WORD kNoId = 0xFFFF;

// Predefined window class atoms of the classic template.
constexpr WORD kButton = 0x0080;
constexpr WORD kEdit = 0x0081;
constexpr WORD kStatic = 0x0082;
constexpr WORD kComboBox = 0x0085;

// A name-or-ordinal field of the template.
struct NameOrOrdinal {
    bool present = false; // false: the field is the single word 0
    bool ordinal = false;
    WORD number = 0;
    std::string text; // ASCII only here
};

class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool failed() const { return failed_; }
    std::size_t offset() const { return offset_; }

    WORD word()
    {
        if (offset_ + 2 > size_) {
            failed_ = true;
            return 0;
        }
        WORD value;
        std::memcpy(&value, data_ + offset_, 2);
        offset_ += 2;
        return value;
    }

    DWORD dword()
    {
        const WORD low = word();
        return static_cast<DWORD>(low) | (static_cast<DWORD>(word()) << 16);
    }

    std::string string()
    {
        std::string text;
        for (WORD c = word(); c != 0 && !failed_; c = word()) {
            text += c < 0x80 ? static_cast<char>(c) : '?';
        }
        return text;
    }

    NameOrOrdinal nameOrOrdinal()
    {
        NameOrOrdinal field;
        const WORD first = word();
        if (first == 0) {
            return field;
        }
        field.present = true;
        if (first == 0xFFFF) {
            field.ordinal = true;
            field.number = word();
            return field;
        }
        offset_ -= 2;
        field.text = string();
        return field;
    }

    void alignToDword() { offset_ = (offset_ + 3) & ~std::size_t{3}; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t offset_ = 0;
    bool failed_ = false;
};

struct Control {
    WORD id;
    WORD classAtom;
    DWORD style;
    short x, y, cx, cy;
    const char* text;
};

const Control kControls[] = {
    {1025, kStatic, 0x50020001, 100, 45, 70, 20, "DLL-Version:"},
    {1, kButton, 0x50010001, 109, 6, 50, 14, "OK"},
    {2, kButton, 0x50010000, 109, 23, 50, 14, "Cancel"},
    {kNoId, kButton, 0x50010007, 5, 5, 89, 35, "Channel Index"},
    {1011, kComboBox, 0x50210003, 10, 60, 81, 125, ""},
    {kNoId, kButton, 0x50010007, 5, 45, 89, 35, "Bitrate kBit/s"},
    {kNoId, kButton, 0x50010007, 5, 87, 70, 35, "Global Mask Std"},
    {kNoId, kButton, 0x50010007, 5, 127, 70, 35, "Global Mask Xtd"},
    {1022, kEdit, 0x50810080, 11, 102, 59, 14, ""},
    {1023, kEdit, 0x50810080, 11, 142, 59, 14, ""},
    {kNoId, kButton, 0x50010007, 91, 127, 70, 35, "Global Code Xtd"},
    {1024, kEdit, 0x50810080, 97, 142, 61, 14, ""},
    {kNoId, kButton, 0x50010007, 92, 87, 70, 35, "Global Code Std"},
    {1021, kEdit, 0x50810080, 98, 102, 59, 14, ""},
    {1010, kComboBox, 0x50210003, 11, 19, 79, 97, ""},
};

BOOL CALLBACK collectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR found)
{
    reinterpret_cast<std::vector<WORD>*>(found)->push_back(language);
    return TRUE;
}

TEST(DialogTemplate, TemplateIsTheOnlyGermanCanInterfaceDialog)
{
    fixture::Library library;
    std::vector<WORD> languages;
    EnumResourceLanguagesA(library.module(), MAKEINTRESOURCEA(5) /* RT_DIALOG */, "CANINTERFACE",
                           collectLanguage, reinterpret_cast<LONG_PTR>(&languages));
    EXPECT_EQ(languages.size(), std::size_t{1});
    EXPECT_TRUE(languages.size() == 1 && languages[0] == kGerman);
}

TEST(DialogTemplate, TemplateMatchesTheLayout)
{
    fixture::Library library;
    const HRSRC found =
        FindResourceExA(library.module(), MAKEINTRESOURCEA(5), "CANINTERFACE", kGerman);
    ASSERT_NE(found, nullptr);
    const auto* data =
        static_cast<const std::uint8_t*>(LockResource(LoadResource(library.module(), found)));
    const DWORD size = SizeofResource(library.module(), found);
    ASSERT_NE(data, nullptr);
    Reader in(data, size);

    EXPECT_EQ(in.dword(), DWORD{0x90C800C0}); // also rules out the extended form
    EXPECT_EQ(in.dword(), DWORD{0});
    const WORD count = in.word();
    EXPECT_EQ(count, WORD{15});
    const short x = static_cast<short>(in.word());
    const short y = static_cast<short>(in.word());
    const short cx = static_cast<short>(in.word());
    const short cy = static_cast<short>(in.word());
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
    EXPECT_EQ(cx, 169);
    EXPECT_EQ(cy, 169);
    EXPECT_FALSE(in.nameOrOrdinal().present); // no menu
    EXPECT_FALSE(in.nameOrOrdinal().present); // the standard dialog class
    EXPECT_EQ(in.string(), "CAN Setup");
    EXPECT_EQ(in.word(), WORD{8});
    EXPECT_EQ(in.string(), "MS Sans Serif");

    for (WORD i = 0; i < count && i < 15; ++i) {
        const Control& want = kControls[i];
        SCOPED_TRACE("control " + std::to_string(i + 1));
        in.alignToDword();
        const DWORD style = in.dword();
        const DWORD extendedStyle = in.dword();
        const short cx0 = static_cast<short>(in.word());
        const short cy0 = static_cast<short>(in.word());
        const short cw = static_cast<short>(in.word());
        const short ch = static_cast<short>(in.word());
        const WORD id = in.word();
        const NameOrOrdinal windowClass = in.nameOrOrdinal();
        const NameOrOrdinal text = in.nameOrOrdinal();
        const WORD extra = in.word();
        EXPECT_EQ(style, want.style);
        EXPECT_EQ(extendedStyle, DWORD{0});
        EXPECT_EQ(cx0, want.x);
        EXPECT_EQ(cy0, want.y);
        EXPECT_EQ(cw, want.cx);
        EXPECT_EQ(ch, want.cy);
        EXPECT_EQ(id, want.id);
        EXPECT_TRUE(windowClass.ordinal) << "class name " << windowClass.text;
        EXPECT_EQ(windowClass.number, want.classAtom);
        // An empty text is the single word 0.
        EXPECT_FALSE(text.ordinal);
        EXPECT_EQ(text.text, want.text);
        EXPECT_EQ(extra, WORD{0});
    }
    EXPECT_FALSE(in.failed());
    EXPECT_TRUE(in.offset() <= size && size - in.offset() < 4);
}

} // namespace
