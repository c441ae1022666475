// Telling the user which step of bringing the channel up the driver
// refused, and why.
#pragma once

#include <cstdint>

namespace morvantis {

inline constexpr const char* kBoxCaption = "morvantis.dll";

// Shows `text` and the driver status (its low 16 bits, signed) in a modal
// box and returns when the user has dismissed it.
void ReportDriverStatus(std::uint32_t status, const char* text);

// While one exists, status boxes are owned by `window` (the setup dialog
// during its OK), so that the window takes no input until they are
// dismissed. Otherwise they have no owner.
class StatusBoxOwner {
public:
    explicit StatusBoxOwner(void* window);
    ~StatusBoxOwner();
    StatusBoxOwner(const StatusBoxOwner&) = delete;
    StatusBoxOwner& operator=(const StatusBoxOwner&) = delete;

private:
    void* previous_;
};

} // namespace morvantis
