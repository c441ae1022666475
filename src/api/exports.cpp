// The fourteen exported functions. Each checks what it is handed and passes
// the call on to the part of the library that does the work.
#include "morvantis.h"

#include "driver/bringup.h"
#include "messages/exchange.h"
#include "platform/platform.h"
#include "setup/info.h"

namespace {

constexpr std::int32_t kFailure = -1;

} // namespace

extern "C" {

MORVANTIS_API int32_t MORVANTIS_CALL CAN_Init(void)
{
    return morvantis::canInit();
}

MORVANTIS_API int32_t MORVANTIS_CALL CAN_Exit(void)
{
    return morvantis::canExit();
}

MORVANTIS_API int32_t MORVANTIS_CALL CAN_Reset(void)
{
    return morvantis::canReset();
}

MORVANTIS_API int32_t MORVANTIS_CALL CAN_Bitrate(int32_t kbit)
{
    return morvantis::canBitrate(kbit);
}

MORVANTIS_API int32_t MORVANTIS_CALL CAN_Read_Msg(CanMsg* msg)
{
    return msg != nullptr ? morvantis::readMessage(*msg) : kFailure;
}

MORVANTIS_API int32_t MORVANTIS_CALL CAN_Send_Msg(const CanMsg* msg)
{
    return msg != nullptr ? morvantis::sendMessage(*msg, false) : kFailure;
}

MORVANTIS_API int32_t MORVANTIS_CALL CAN_Send_RTR(const CanMsg* msg)
{
    return msg != nullptr ? morvantis::sendMessage(*msg, true) : kFailure;
}

MORVANTIS_API int32_t MORVANTIS_CALL CAN_Read_extMsg(CanExtMsg* msg)
{
    return msg != nullptr ? morvantis::readMessage(*msg) : kFailure;
}

MORVANTIS_API int32_t MORVANTIS_CALL CAN_Send_extMsg(const CanExtMsg* msg)
{
    return msg != nullptr ? morvantis::sendMessage(*msg, false) : kFailure;
}

MORVANTIS_API int32_t MORVANTIS_CALL CAN_Send_extRTR(const CanExtMsg* msg)
{
    return msg != nullptr ? morvantis::sendMessage(*msg, true) : kFailure;
}

MORVANTIS_API int32_t MORVANTIS_CALL CAN_InterfaceSetup(void* owner)
{
    return morvantis::platform::runSetupDialog(owner);
}

MORVANTIS_API int32_t MORVANTIS_CALL CAN_DLL_Info(CanDllInfo* info)
{
    if (info == nullptr) {
        return kFailure;
    }
    morvantis::fillDllInfo(*info);
    return 0;
}

MORVANTIS_API int32_t MORVANTIS_CALL CAN_Status(CanStatusRecord* status)
{
    if (status == nullptr) {
        return kFailure;
    }
    morvantis::fillStatus(*status);
    return 0;
}

MORVANTIS_API int32_t MORVANTIS_CALL CAN_Init_One_ID(int32_t kbit, uint32_t filterId)
{
    return morvantis::canInitOneId(kbit, filterId);
}

} // extern "C"
