#include "driver/status_report.h"

#include "platform/platform.h"

#include <cstdio>

namespace morvantis {
namespace {

void* boxOwner = nullptr;

struct StatusName {
    std::int16_t status;
    const char* reason;
};

constexpr StatusName kStatusNames[] = {
    {10, "QUEUE_IS_EMPTY"},      {11, "QUEUE_IS_FULL"},
    {12, "TX_NOT_POSSIBLE"},     {101, "WRONG_PARAMETER"},
    {110, "TWICE_REGISTER"},     {111, "INVALID_CHAN_INDEX"},
    {112, "INVALID_ACCESS"},     {113, "PORT_IS_OFFLINE (e.g. CANCAB not connected)"},
    {116, "CHAN_IS_ONLINE"},     {118, "INVALID_PORT"},
    {120, "HW_NOT_READY"},       {121, "CMD_TIMEOUT"},
    {129, "HW_NOT_PRESENT"},     {131, "NOTIFY_ALREADY_ACTIVE"},
    {201, "CANNOT_OPEN_DRIVER"},
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
    platform::messageBox(boxOwner, message, kBoxCaption);
}

StatusBoxOwner::StatusBoxOwner(void* window) : previous_(boxOwner)
{
    boxOwner = window;
}

StatusBoxOwner::~StatusBoxOwner()
{
    boxOwner = previous_;
}

} // namespace morvantis
