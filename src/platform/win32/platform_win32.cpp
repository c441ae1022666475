// The platform as Windows provides it: profile functions for the settings
// file, message boxes, and modal dialogs from the module's templates.
#include "platform/platform.h"

#include <windows.h>

namespace morvantis::platform {

bool FindFile(const char* fileName, char (&path)[kMaxPath])
{
    const DWORD length = SearchPathA(nullptr, fileName, nullptr, kMaxPath, path, nullptr);
    // A result of kMaxPath or more is the size the path would need.
    return length != 0 && length < kMaxPath;
}

void ReadProfileValue(const char* section, const char* key, const char* defaultText, char* buffer,
                      std::size_t size, const char* path)
{
    GetPrivateProfileStringA(section, key, defaultText, buffer, static_cast<DWORD>(size), path);
}

void WriteProfileValue(const char* section, const char* key, const char* value, const char* path)
{
    WritePrivateProfileStringA(section, key, value, path);
}

void ShowMessageBox(void* owner, const char* text, const char* caption)
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

// The handlers travel with the dialog: DialogBoxParamA hands them to
// WM_INITDIALOG, which keeps them in the dialog's user data.
INT_PTR CALLBACK ModalDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    Win32DialogControls controls(dialog);
    if (message == WM_INITDIALOG) {
        const auto* handlers = reinterpret_cast<const DialogHandlers*>(lParam);
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        return handlers->init(controls);
    }
    const auto* handlers =
        reinterpret_cast<const DialogHandlers*>(GetWindowLongPtrA(dialog, DWLP_USER));
    if (message == WM_COMMAND && handlers != nullptr) {
        handlers->command(controls, LOWORD(wParam));
    }
    return 0;
}

} // namespace

std::int32_t RunModalDialog(void* module, void* owner, const char* templateName,
                            const DialogHandlers& handlers)
{
    return static_cast<std::int32_t>(DialogBoxParamA(static_cast<HINSTANCE>(module), templateName,
                                                     static_cast<HWND>(owner), ModalDialogProc,
                                                     reinterpret_cast<LPARAM>(&handlers)));
}

} // namespace morvantis::platform
