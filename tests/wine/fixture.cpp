#include "fixture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace fixture {
namespace {

int WINAPI recordMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    capturedBoxes().push_back(Box{owner, text ? text : "", caption ? caption : "", type});
    return IDOK;
}

} // namespace

Library::Library()
    : fresh_(GetModuleHandleA("morvantis.dll") == nullptr), module_(LoadLibraryA("morvantis.dll"))
{
    if (module_ == nullptr) {
        ADD_FAILURE() << "LoadLibrary(morvantis.dll) failed";
    }
}

Library::~Library()
{
    if (module_ != nullptr) {
        FreeLibrary(module_);
    }
}

WorkingDirectory::WorkingDirectory()
{
    char buffer[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, buffer);
    previous_ = buffer;
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    for (unsigned attempt = 0; path_.empty(); ++attempt) {
        std::snprintf(buffer, sizeof buffer, "%smorvantis-%lu-%u", temp, GetCurrentProcessId(),
                      attempt);
        if (CreateDirectoryA(buffer, nullptr)) {
            path_ = buffer;
        } else if (GetLastError() != ERROR_ALREADY_EXISTS) {
            ADD_FAILURE() << "cannot create " << buffer;
            return;
        }
    }
    if (!SetCurrentDirectoryA(path_.c_str())) {
        ADD_FAILURE() << "cannot change into " << path_;
    }
}

WorkingDirectory::~WorkingDirectory()
{
    SetCurrentDirectoryA(previous_.c_str());
    if (path_.empty()) {
        return;
    }
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path_ + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                DeleteFileA((path_ + "\\" + found.cFileName).c_str());
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path_.c_str());
}

void WorkingDirectory::writeFile(const char* name, const std::string& text) const
{
    FILE* file = std::fopen((path_ + "\\" + name).c_str(), "wb");
    if (file == nullptr || std::fwrite(text.data(), 1, text.size(), file) != text.size()) {
        ADD_FAILURE() << "cannot write " << name;
    }
    if (file != nullptr) {
        std::fclose(file);
    }
}

bool WorkingDirectory::holds(const char* name) const
{
    return GetFileAttributesA((path_ + "\\" + name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<SimCall> driverCalls()
{
    std::vector<SimCall> calls;
    SimCall call;
    for (int32_t index = 0; simGetCall(index, &call) != 0; ++index) {
        calls.push_back(call);
    }
    return calls;
}

std::vector<SimCall> driverCalls(SimOp op)
{
    std::vector<SimCall> calls;
    for (const SimCall& call : driverCalls()) {
        if (call.op == op) {
            calls.push_back(call);
        }
    }
    return calls;
}

bool captureMessageBoxes(HMODULE module)
{
    auto* base = reinterpret_cast<std::uint8_t*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    auto* imports = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
    for (; imports->Name != 0; ++imports) {
        if (_stricmp(reinterpret_cast<const char*>(base + imports->Name), "user32.dll") != 0) {
            continue;
        }
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imports->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imports->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) {
                continue;
            }
            const auto* byName =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), "MessageBoxA") != 0) {
                continue;
            }
            DWORD protection = 0;
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE,
                           &protection);
            slots->u1.Function = reinterpret_cast<DWORD_PTR>(&recordMessageBox);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
            return true;
        }
    }
    return false;
}

std::vector<Box>& capturedBoxes()
{
    static std::vector<Box> boxes;
    return boxes;
}

} // namespace fixture
