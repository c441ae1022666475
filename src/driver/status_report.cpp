#include "driver/status_report.h"

#include "driver/ncd_status.h"
#include "platform/platform.h"
#include "state/library_state.h"

#include <cstdio>

namespace morvantis {
namespace {

struct StatusName {
    std::int16_t status;
    const char* reason;
};

constexpr StatusName kStatusNames[] = {
#define STATUS_NAME(name, value, reason) {value, reason},
    NCD_STATUSES(STATUS_NAME)
#undef STATUS_NAME
};

const char* reasonFor(std::int16_t status)
{
    for (const StatusName& name : kStatusNames) {
        if (name.status == status) {
            return name.reason;
        }
    }
    return "unknown";
}

void formatDriverStatus(std::uint32_t status, const char* text, char* buffer, std::size_t size)
{
    const auto status16 = static_cast<std::int16_t>(static_cast<std::uint16_t>(status));
    if (status16 == 0) {
        std::snprintf(buffer, size, "%s\n !", text);
    } else {
        std::snprintf(buffer, size, "%s\n Reason: %s (code %d) !", text, reasonFor(status16),
                      static_cast<int>(status16));
    }
}

} // namespace

void ReportDriverStatus(std::uint32_t status, const char* text)
{
    char message[500];
    formatDriverStatus(status, text, message, sizeof message);
    platform::ShowMessageBox(libraryState.boxOwner, message, kBoxCaption);
}

StatusBoxOwner::StatusBoxOwner(void* window) : previous_(libraryState.boxOwner)
{
    libraryState.boxOwner = window;
}

StatusBoxOwner::~StatusBoxOwner()
{
    libraryState.boxOwner = previous_;
}

} // namespace morvantis
