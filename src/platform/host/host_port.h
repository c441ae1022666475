// The host port's own controls, for native tests and tools: where message
// boxes go, who plays the user of the setup dialog, and a way to make the
// settings file's writes fail.
#pragma once

#include "platform/platform.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace morvantis::host {

struct MessageBoxCall {
    void* owner;
    std::string text;
    std::string caption;
};

// Receives every message box; the default prints it to standard error.
using MessageBoxHandler = std::function<void(const MessageBoxCall&)>;
void SetMessageBoxHandler(MessageBoxHandler handler);

// An in-memory dialog: edits hold texts, lists hold entries and a
// selection, as the platform's controls would.
class InMemoryDialog final : public DialogControls {
public:
    explicit InMemoryDialog(const platform::DialogHandlers& handlers) : handlers_(handlers) {}

    struct List {
        std::vector<std::string> entries;
        std::int32_t selection = -1;
    };

    void setText(int id, const char* text) override;
    void getText(int id, char* buffer, std::size_t size) override;
    void resetList(int id) override;
    void addListEntry(int id, const char* text) override;
    void selectListEntry(int id, std::int32_t index) override;
    std::int32_t selectedListEntry(int id) override;
    void endDialog(std::int32_t result) override;
    void* window() override { return this; }

    // What the user does: press a button (runs the command as the dialog
    // manager would), or type into an edit.
    void press(std::int32_t command);
    void type(int id, std::string text) { texts_[id] = std::move(text); }

    const std::string& text(int id) { return texts_[id]; }
    const List& list(int id) { return lists_[id]; }
    bool ended() const { return ended_; }
    std::int32_t result() const { return result_; }

private:
    const platform::DialogHandlers& handlers_;
    std::map<int, std::string> texts_;
    std::map<int, List> lists_;
    bool ended_ = false;
    std::int32_t result_ = 0;
};

// Plays the user of modal dialogs: called once a dialog has opened, it
// works the controls until the dialog has ended. With no user set a dialog
// cannot be shown and RunModalDialog returns -1.
using DialogUser = std::function<void(InMemoryDialog&)>;
void SetDialogUser(DialogUser user);

// While set, every write to a settings file fails and leaves it untouched.
void FailProfileWrites(bool fail);

// Back to the port as at load: boxes to standard error, no dialog user,
// writes that work.
void ResetHostPort();

} // namespace morvantis::host
