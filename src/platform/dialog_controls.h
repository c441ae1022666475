// The controls of an open modal dialog, as the dialog logic uses them. The
// win32 port implements this over a real dialog window, the host port over
// an in-memory model.
#pragma once

#include <cstddef>
#include <cstdint>

namespace morvantis {

class DialogControls {
public:
    virtual void setText(int id, const char* text) = 0;
    // Copies at most size - 1 characters and a terminating zero.
    virtual void getText(int id, char* buffer, std::size_t size) = 0;
    virtual void resetList(int id) = 0;
    virtual void addListEntry(int id, const char* text) = 0;
    // An index outside the list leaves it without a selection.
    virtual void selectListEntry(int id, std::int32_t index) = 0;
    // The selected entry, or -1 when none is selected.
    virtual std::int32_t selectedListEntry(int id) = 0;
    virtual void endDialog(std::int32_t result) = 0;
    // The dialog's window handle, to own the boxes shown from it.
    virtual void* window() = 0;

protected:
    ~DialogControls() = default;
};

} // namespace morvantis
