#include "driver_id.h"

namespace demo {

std::uint32_t driverId(const notation::Frame& frame)
{
    return frame.extended ? (frame.id | kExtendedMark) : frame.id;
}

void setFromDriverId(notation::Frame& frame, std::uint32_t id)
{
    frame.extended = (id & kExtendedMark) != 0;
    frame.id = frame.extended ? (id & notation::kExtendedIdMask) : id;
}

std::uint32_t answerId(std::uint32_t id)
{
    if ((id & kExtendedMark) != 0) {
        return ((id + 1) & notation::kExtendedIdMask) | kExtendedMark;
    }
    return (id + 1) & notation::kStandardIdMask;
}

} // namespace demo
