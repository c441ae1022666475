// The platform in portable C++: the settings file through our own INI
// reader and writer, message boxes to a handler, the setup dialog in
// memory.
#include "platform/platform.h"

#include "platform/host/host_port.h"
#include "platform/host/ini_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace morvantis::host {
namespace {

void printMessageBox(const MessageBoxCall& call)
{
    std::fprintf(stderr, "[%s] %s\n", call.caption.c_str(), call.text.c_str());
}

// The port's hooks, as tests and tools set them.
struct Hooks {
    MessageBoxHandler messageBoxHandler = printMessageBox;
    DialogUser dialogUser;
    bool profileWritesFail = false;
};
Hooks hooks;

// Windows names use backslashes; here they separate directories too.
std::string hostPath(const char* path)
{
    std::string result(path);
    for (char& c : result) {
        if (c == '\\') {
            c = '/';
        }
    }
    return result;
}

void copyTruncated(const std::string& text, char* buffer, std::size_t size)
{
    if (size == 0) {
        return;
    }
    // Up to the first NUL, as a C string would hold it.
    const std::size_t length = std::min(std::strlen(text.c_str()), size - 1);
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
}

} // namespace

void SetMessageBoxHandler(MessageBoxHandler handler)
{
    hooks.messageBoxHandler = handler ? std::move(handler) : MessageBoxHandler(printMessageBox);
}

void SetDialogUser(DialogUser user)
{
    hooks.dialogUser = std::move(user);
}

void FailProfileWrites(bool fail)
{
    hooks.profileWritesFail = fail;
}

void ResetHostPort()
{
    hooks = Hooks{};
}

void InMemoryDialog::setText(int id, const char* text)
{
    texts_[id] = text;
}

void InMemoryDialog::getText(int id, char* buffer, std::size_t size)
{
    copyTruncated(texts_[id], buffer, size);
}

void InMemoryDialog::resetList(int id)
{
    lists_[id] = List{};
}

void InMemoryDialog::addListEntry(int id, const char* text)
{
    lists_[id].entries.emplace_back(text);
}

void InMemoryDialog::selectListEntry(int id, std::int32_t index)
{
    List& list = lists_[id];
    const bool inList = index >= 0 && static_cast<std::size_t>(index) < list.entries.size();
    list.selection = inList ? index : -1;
}

std::int32_t InMemoryDialog::selectedListEntry(int id)
{
    return lists_[id].selection;
}

void InMemoryDialog::endDialog(std::int32_t result)
{
    ended_ = true;
    result_ = result;
}

void InMemoryDialog::press(std::int32_t command)
{
    handlers_.command(*this, command);
}

} // namespace morvantis::host

namespace morvantis::platform {

bool FindFile(const char* fileName, char (&path)[kMaxPath])
{
    std::error_code error;
    const std::filesystem::path found = host::hostPath(fileName);
    if (!std::filesystem::is_regular_file(found, error)) {
        return false;
    }
    const std::string full = std::filesystem::absolute(found, error).lexically_normal().string();
    if (error || full.size() >= kMaxPath) {
        return false;
    }
    std::memcpy(path, full.c_str(), full.size() + 1);
    return true;
}

void ReadProfileValue(const char* section, const char* key, const char* defaultText, char* buffer,
                      std::size_t size, const char* path)
{
    std::optional<std::string> value;
    if (const auto text = host::ReadTextFile(host::hostPath(path))) {
        value = host::IniText(*text).get(section, key);
    }
    host::copyTruncated(value ? *value : std::string(defaultText), buffer, size);
}

void WriteProfileValue(const char* section, const char* key, const char* value, const char* path)
{
    if (host::hooks.profileWritesFail) {
        return;
    }
    const std::string file = host::hostPath(path);
    std::error_code error;
    const bool exists = std::filesystem::exists(file, error);
    const std::optional<std::string> text = host::ReadTextFile(file);
    if (exists && !text) {
        return; // there, but not readable: rewriting it would lose the rest
    }
    host::IniText ini(text.value_or(std::string()));
    ini.set(section, key, value);
    host::ReplaceTextFile(file, ini.text());
}

void ShowMessageBox(void* owner, const char* text, const char* caption)
{
    host::hooks.messageBoxHandler(host::MessageBoxCall{owner, text, caption});
}

std::int32_t RunModalDialog(void* /*module*/, void* /*owner*/, const char* /*templateName*/,
                            const DialogHandlers& handlers)
{
    if (!host::hooks.dialogUser) {
        return -1;
    }
    host::InMemoryDialog dialog(handlers);
    handlers.init(dialog);
    host::hooks.dialogUser(dialog);
    return dialog.ended() ? dialog.result() : -1;
}

} // namespace morvantis::platform
