// The setup dialog on a real screen: CAN_InterfaceSetup runs the modal
// dialog on the test's thread while a second thread plays the user (finds
// the dialog, reads and sets its controls, presses a button, deals with
// the message boxes). The dialog at opening is saved as display_dialog.bmp
// next to the program.
#include "fixture.h"

#include <gtest/gtest.h>

#include "morvantis.h"
#include "sim_control.h"

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using SetupFunction = int32_t(__stdcall*)(void*);
using ExitFunction = int32_t(__stdcall*)();

constexpr int kChannelList = 1010;
constexpr int kBitrateList = 1011;
constexpr int kCodeStd = 1021;
constexpr int kMaskStd = 1022;
constexpr int kMaskXtd = 1023;
constexpr int kCodeXtd = 1024;
constexpr int kVersionLine = 1025;
constexpr int kBoxText = 0xFFFF; // the text of a message box

constexpr DWORD kPatienceMs = 15000;

std::string programDirectory()
{
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string directory(path, length);
    return directory.substr(0, directory.find_last_of("\\/") + 1);
}

// Each test works in a fresh directory of its own, where the library reads
// and writes MORVANTIS.INI.
void enterWorkDirectory(const char* settings)
{
    const std::string directory = programDirectory() + "display_dialog.work";
    CreateDirectoryA(directory.c_str(), nullptr);
    SetCurrentDirectoryA(directory.c_str());
    DeleteFileA("MORVANTIS.INI");
    if (settings != nullptr) {
        std::ofstream(".\\MORVANTIS.INI", std::ios::binary) << settings;
    }
}

// The settings file's content, or "(none)" when there is none.
std::string settingsFile()
{
    std::ifstream file(".\\MORVANTIS.INI", std::ios::binary);
    if (!file) {
        return "(none)";
    }
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

struct Search {
    const char* title;
    HWND skip;
    HWND found;
};

BOOL CALLBACK matchWindow(HWND window, LPARAM data)
{
    auto* search = reinterpret_cast<Search*>(data);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char windowClass[16] = "";
    GetClassNameA(window, windowClass, sizeof windowClass);
    if (process != GetCurrentProcessId() || window == search->skip || !IsWindowVisible(window) ||
        std::string(windowClass) != "#32770") {
        return TRUE;
    }
    // Only now the title: asking for it waits for the window's thread.
    char title[64] = "";
    GetWindowTextA(window, title, sizeof title);
    if (std::string(title) == search->title) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// Waits for a visible dialog window of this process with this title (other
// than `skip`); null once `patienceMs` ran out.
HWND waitForDialog(const char* title, HWND skip = nullptr, DWORD patienceMs = kPatienceMs)
{
    for (DWORD waited = 0;; waited += 50) {
        Search search{title, skip, nullptr};
        EnumWindows(matchWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr || waited >= patienceMs) {
            return search.found;
        }
        Sleep(50);
    }
}

bool waitUntilGone(HWND window)
{
    for (DWORD waited = 0; waited < kPatienceMs; waited += 50) {
        if (!IsWindow(window)) {
            return true;
        }
        Sleep(50);
    }
    return false;
}

std::string itemText(HWND dialog, int id)
{
    char text[256] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

std::vector<std::string> listEntries(HWND dialog, int id)
{
    std::vector<std::string> entries;
    const auto count = SendDlgItemMessageA(dialog, id, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        char text[64] = "";
        SendDlgItemMessageA(dialog, id, CB_GETLBTEXT, static_cast<WPARAM>(i),
                            reinterpret_cast<LPARAM>(text));
        entries.emplace_back(text);
    }
    return entries;
}

int selection(HWND dialog, int id)
{
    return static_cast<int>(SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0));
}

void select(HWND dialog, int id, int index)
{
    SendDlgItemMessageA(dialog, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

// A click on a button, handled by the dialog's own thread.
void press(HWND dialog, int id)
{
    PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

// The window as it is on the screen, as a 24-bit BMP file.
bool saveScreenshot(HWND window, const std::string& path)
{
    RECT rect;
    GetWindowRect(window, &rect);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    const bool copied = BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    SelectObject(memory, previous);

    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    const int stride = (width * 3 + 3) & ~3;
    std::vector<char> pixels(static_cast<std::size_t>(stride * height));
    const int lines = GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(),
                                reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (!copied || lines != height) {
        return false;
    }

    BITMAPFILEHEADER header{};
    header.bfType = 0x4D42; // "BM"
    header.bfOffBits = sizeof header + sizeof info;
    header.bfSize = header.bfOffBits + static_cast<DWORD>(pixels.size());
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(&header), sizeof header);
    file.write(reinterpret_cast<const char*>(&info), sizeof info);
    file.write(pixels.data(), static_cast<std::streamsize>(pixels.size()));
    return static_cast<bool>(file);
}

// What the user saw of the dialog when it opened.
struct Opening {
    HWND dialog = nullptr;
    HWND owner = nullptr;
    std::string version;
    std::vector<std::string> channels;
    int channel = -2;
    std::vector<std::string> bitrates;
    int bitrate = -2;
    std::vector<std::string> edits; // mask std, code std, mask xtd, code xtd
};

Opening readOpening(HWND dialog)
{
    Opening seen;
    seen.dialog = dialog;
    seen.owner = GetWindow(dialog, GW_OWNER);
    seen.version = itemText(dialog, kVersionLine);
    seen.channels = listEntries(dialog, kChannelList);
    seen.channel = selection(dialog, kChannelList);
    seen.bitrates = listEntries(dialog, kBitrateList);
    seen.bitrate = selection(dialog, kBitrateList);
    for (const int id : {kMaskStd, kCodeStd, kMaskXtd, kCodeXtd}) {
        seen.edits.push_back(itemText(dialog, id));
    }
    return seen;
}

// A message box as the user met it.
struct SeenBox {
    std::string text;
    HWND owner;
    bool dialogEnabled;
};

// Runs CAN_InterfaceSetup(owner) on this thread while `user` plays the
// user on another. Whatever the user leaves open is cancelled afterwards,
// so that a failed test cannot hang.
int32_t runWithUser(const fixture::Library& library, HWND owner, const std::function<void()>& user)
{
    const auto setup = library.get<SetupFunction>("CAN_InterfaceSetup");
    EXPECT_NE(setup, nullptr);
    if (setup == nullptr) {
        return 0;
    }
    std::thread player([&user] {
        user();
        for (HWND box; (box = waitForDialog("morvantis.dll", nullptr, 0)) != nullptr;) {
            press(box, IDOK);
            waitUntilGone(box);
        }
        if (HWND left = waitForDialog("CAN Setup", nullptr, 0); left != nullptr) {
            PostMessageA(left, WM_COMMAND, IDCANCEL, 0);
        }
    });
    const int32_t result = setup(owner);
    player.join();
    return result;
}

std::string joined(const std::vector<std::string>& items)
{
    std::string text;
    for (const std::string& item : items) {
        text += "[" + item + "]";
    }
    return text;
}

const std::vector<std::string> kChannelNames = {
    "Virtual C1",       "Virtual C2",   "LAPcan(II) C1 S1", "LAPcan(II) C2 S1", "LAPcan(II) C1 S2",
    "LAPcan(II) C2 S2", "Leaf-USB",     "USBcan C1",        "USBcan C2",        "USBcan II C1",
    "USBcan II C2",     "PCIcan C1",    "PCIcan C2",        "PCIcan C3",        "PCIcan C4",
    "PCIcan II C1",     "PCIcan II C2", "PCIcan II C3",     "PCIcan II C4"};
const std::vector<std::string> kBitrates = {"10",  "20",  "40",  "50",  "100",
                                            "125", "250", "500", "1000"};

std::string opSequence(const std::vector<SimCall>& log)
{
    static const char* const names[SIM_OP_COUNT] = {
        "OPEN_DRIVER", "CLOSE_DRIVER", "GET_CHANNEL_MASK", "OPEN_PORT",
        "CLOSE_PORT",  "SET_BITRATE",  "SET_OUTPUT",       "SET_ACCEPTANCE",
        "SET_MODE",    "ACTIVATE",     "RECEIVE",          "TRANSMIT"};
    std::string text;
    for (const SimCall& call : log) {
        text += std::string(call.op >= 0 && call.op < SIM_OP_COUNT ? names[call.op] : "?") + " ";
    }
    return text;
}

TEST(SetupDialog, OkAppliesRestartsAndSavesTheDialogsValues)
{
    enterWorkDirectory(nullptr);
    simReset();
    fixture::Library library;
    Opening seen;
    bool screenshot = false;
    const int32_t result = runWithUser(library, nullptr, [&] {
        const HWND dialog = waitForDialog("CAN Setup");
        if (dialog == nullptr) {
            return;
        }
        Sleep(700); // let it paint before the picture is taken
        seen = readOpening(dialog);
        screenshot = saveScreenshot(dialog, programDirectory() + "display_dialog.bmp");
        select(dialog, kChannelList, 7);
        select(dialog, kBitrateList, 7);
        SetDlgItemTextA(dialog, kMaskStd, "7F0");
        SetDlgItemTextA(dialog, kCodeStd, "  0x120");
        SetDlgItemTextA(dialog, kMaskXtd, "1FFFFF00");
        SetDlgItemTextA(dialog, kCodeXtd, "-1");
        press(dialog, IDOK);
        waitUntilGone(dialog);
    });
    EXPECT_EQ(result, 1);
    EXPECT_NE(seen.dialog, nullptr);
    EXPECT_TRUE(screenshot);
    EXPECT_EQ(seen.owner, nullptr);
    EXPECT_EQ(seen.version, "DLL-Version: V1.00r0");
    EXPECT_EQ(joined(seen.channels), joined(kChannelNames));
    EXPECT_EQ(seen.channel, 2);
    EXPECT_EQ(joined(seen.bitrates), joined(kBitrates));
    EXPECT_EQ(seen.bitrate, 4);
    EXPECT_EQ(joined(seen.edits), "[000][000][00000000][00000000]");

    // The restart: down, then up on USBcan C1 (type 11, mask bit 7).
    const std::vector<SimCall> log = fixture::driverCalls();
    EXPECT_EQ(opSequence(log), "CLOSE_PORT CLOSE_DRIVER OPEN_DRIVER GET_CHANNEL_MASK OPEN_PORT "
                               "SET_BITRATE SET_OUTPUT SET_ACCEPTANCE SET_ACCEPTANCE SET_MODE "
                               "ACTIVATE ");
    if (log.size() == 11) {
        EXPECT_EQ(log[3].arg[0], 11u);
        EXPECT_EQ(log[3].result, 0x80u);
        EXPECT_EQ(log[5].arg[2], 500000u);
        EXPECT_EQ(log[7].arg[2], 0x120u);      // standard code
        EXPECT_EQ(log[7].arg[3], 0x7F0u);      // standard mask
        EXPECT_EQ(log[8].arg[2], 0xFFFFFFFFu); // extended code, bit 31 added
        EXPECT_EQ(log[8].arg[3], 0x9FFFFF00u); // extended mask, bit 31 added
        EXPECT_EQ(log[9].result, 0u);
        EXPECT_EQ(log[10].result, 0u);
    }
    EXPECT_EQ(simActiveChannels(log.size() > 4 ? static_cast<int32_t>(log[4].arg[0]) : 0), 0x80u);

    EXPECT_EQ(settingsFile(), "[MORVANTIS]\r\n"
                              "CHANNEL_INDEX=7\r\n"
                              "BITRATE=500\r\n"
                              "GLOBALMASKSTD=0x000007F0\r\n"
                              "GLOBALCODESTD=0x00000120\r\n"
                              "GLOBALMASKXTD=0x1FFFFF00\r\n"
                              "GLOBALCODEXTD=0xFFFFFFFF\r\n");
    library.get<ExitFunction>("CAN_Exit")();
}

TEST(SetupDialog, CancelChangesNothing)
{
    const char* settings = "[MORVANTIS]\r\nCHANNEL_INDEX=18\r\nBITRATE=250\r\n";
    enterWorkDirectory(settings);
    simReset();
    fixture::Library library;
    // An owner window of the test's own, which the dialog disables while
    // it is open.
    const HWND owner = CreateWindowExA(0, "STATIC", "owner", WS_OVERLAPPEDWINDOW, 300, 300, 200,
                                       100, nullptr, nullptr, nullptr, nullptr);
    Opening seen;
    bool ownerEnabled = true;
    const int32_t result = runWithUser(library, owner, [&] {
        const HWND dialog = waitForDialog("CAN Setup");
        if (dialog == nullptr) {
            return;
        }
        seen = readOpening(dialog);
        ownerEnabled = IsWindowEnabled(owner) != FALSE;
        select(dialog, kChannelList, 0);
        select(dialog, kBitrateList, 0);
        SetDlgItemTextA(dialog, kMaskStd, "7FF");
        press(dialog, IDCANCEL);
        waitUntilGone(dialog);
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(seen.owner, owner);
    EXPECT_FALSE(ownerEnabled);
    EXPECT_EQ(seen.channel, 18);
    EXPECT_EQ(seen.bitrate, 6);
    EXPECT_EQ(simCallCount(), 0);
    EXPECT_EQ(settingsFile(), settings);
    DestroyWindow(owner);
}

TEST(SetupDialog, FailingRestartShowsBothBoxesOwnedByTheDialogAndKeepsTheFile)
{
    const char* settings = "[MORVANTIS]\r\nCHANNEL_INDEX=2\r\nBITRATE=100\r\n";
    enterWorkDirectory(settings);
    simReset();
    simSetStatus(SIM_ACTIVATE, NCD_PORT_IS_OFFLINE);
    fixture::Library library;
    HWND dialog = nullptr;
    std::vector<SeenBox> boxes;
    const int32_t result = runWithUser(library, nullptr, [&] {
        dialog = waitForDialog("CAN Setup");
        if (dialog == nullptr) {
            return;
        }
        select(dialog, kChannelList, 0);
        SetDlgItemTextA(dialog, kMaskStd, "7FF");
        press(dialog, IDOK);
        HWND previous = nullptr;
        for (int i = 0; i < 2; ++i) {
            const HWND box = waitForDialog("morvantis.dll", previous);
            if (box == nullptr) {
                return;
            }
            Sleep(200);
            boxes.push_back(SeenBox{itemText(box, kBoxText), GetWindow(box, GW_OWNER),
                                    IsWindowEnabled(dialog) != FALSE});
            press(box, IDOK);
            waitUntilGone(box);
            previous = box;
        }
        waitUntilGone(dialog);
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(boxes.size(), std::size_t{2});
    if (boxes.size() == 2) {
        EXPECT_EQ(boxes[0].text, "Could not ActivateChannel\n Reason: PORT_IS_OFFLINE (e.g. "
                                 "CANCAB not connected) (code 113) !");
        EXPECT_EQ(boxes[1].text, "Could not init CAN with these settings !");
        for (const SeenBox& box : boxes) {
            EXPECT_EQ(box.owner, dialog);
            EXPECT_FALSE(box.dialogEnabled);
        }
    }
    EXPECT_EQ(settingsFile(), settings);

    // The new values are in memory all the same.
    CanDllInfo info{};
    library.get<int32_t(__stdcall*)(CanDllInfo*)>("CAN_DLL_Info")(&info);
    EXPECT_STREQ(info.channelName, "Virtual C1");
    library.get<ExitFunction>("CAN_Exit")();
}

} // namespace
