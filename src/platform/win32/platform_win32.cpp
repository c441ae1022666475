// The platform as Windows provides it: profile functions for the settings
// file, message boxes, and the setup dialog as a real modal dialog.
#include "platform/platform.h"

#include "api/module_state.h"
#include "resources/resource_ids.h"
#include "setup/dialog_controls.h"
#include "setup/setup_dialog.h"

#include <windows.h>

namespace morvantis::platform {

bool searchPath(const char* fileName, char (&path)[kMaxPath])
{
    const DWORD length = SearchPathA(nullptr, fileName, nullptr, kMaxPath, path, nullptr);
    // A result of kMaxPath or more is the size the path would need.
    return length != 0 && length < kMaxPath;
}

void readProfileString(const char* section, const char* key, const char* defaultText, char* buffer,
                       std::size_t size, const char* path)
{
    GetPrivateProfileStringA(section, key, defaultText, buffer, static_cast<DWORD>(size), path);
}

void writeProfileString(const char* section, const char* key, const char* value, const char* path)
{
    WritePrivateProfileStringA(section, key, value, path);
}

void messageBox(void* owner, const char* text, const char* caption)
{
    MessageBoxA(static_cast<HWND>(owner), text, caption, MB_OK);
}

namespace {

class Win32DialogControls final : public DialogControls {
public:
    explicit Win32DialogControls(HWND dialog) : dialog_(dialog) {}

    void setText(int id, const char* text) override { SetDlgItemTextA(dialog_, id, text); }

    void getText(int id, char* buffer, std::size_t size) override
    {
        GetDlgItemTextA(dialog_, id, buffer, static_cast<int>(size));
    }

    void resetList(int id) override { send(id, CB_RESETCONTENT, 0, 0); }

    void addListEntry(int id, const char* text) override
    {
        send(id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    }

    void selectListEntry(int id, std::int32_t index) override
    {
        send(id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    }

    std::int32_t selectedListEntry(int id) override
    {
        return static_cast<std::int32_t>(send(id, CB_GETCURSEL, 0, 0));
    }

    void endDialog(std::int32_t result) override { EndDialog(dialog_, result); }

    void* window() override { return dialog_; }

private:
    LRESULT send(int id, UINT message, WPARAM wParam, LPARAM lParam)
    {
        return SendMessageA(GetDlgItem(dialog_, id), message, wParam, lParam);
    }

    HWND dialog_;
};

INT_PTR CALLBACK SetupDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM /*lParam*/)
{
    Win32DialogControls controls(dialog);
    switch (message) {
    case WM_INITDIALOG:
        return InitSetupDialog(controls);
    case WM_COMMAND:
        HandleSetupCommand(controls, LOWORD(wParam));
        return 0;
    default:
        return 0;
    }
}

} // namespace

std::int32_t runSetupDialog(void* owner)
{
    return static_cast<std::int32_t>(
        DialogBoxParamA(static_cast<HINSTANCE>(driverConnection.moduleHandle), SETUP_DIALOG_NAME,
                        static_cast<HWND>(owner), SetupDialogProc, 0));
}

} // namespace morvantis::platform
