// The fourteen exported functions. Each checks what it is handed and passes
// the call on to the part of the library that does the work; the read and
// send functions are defined inline, so that each export is one short
// function around its driver call.
#include "morvantis.h"

#include "driver/bringup.h"
#include "messages/exchange.h"
#include "setup/info.h"
#include "setup/setup_dialog.h"
#include "state/result.h"

using morvantis::kFailure;
using morvantis::kSuccess;

extern "C" {

MORVANTIS_API int32_t MORVANTIS_CALL CAN_Init(void)
{
    return morvantis::InitChannel(morvantis::kSettingsFilters);
}

MORVANTIS_API int32_t MORVANTIS_CALL CAN_Exit(void)
{
    return morvantis::ExitChannel();
}

MORVANTIS_API int32_t MORVANTIS_CALL CAN_Reset(void)
{
    return morvantis::ResetChannel();
}

MORVANTIS_API int32_t MORVANTIS_CALL CAN_Bitrate(int32_t kbit)
{
    return morvantis::ChangeBitrate(kbit);
}

MORVANTIS_API int32_t MORVANTIS_CALL CAN_Read_Msg(CanMsg* msg)
{
    return msg != nullptr ? morvantis::ReceiveMessage(*msg) : kFailure;
}

MORVANTIS_API int32_t MORVANTIS_CALL CAN_Send_Msg(const CanMsg* msg)
{
    return msg != nullptr ? morvantis::TransmitMessage(*msg, false) : kFailure;
}

MORVANTIS_API int32_t MORVANTIS_CALL CAN_Send_RTR(const CanMsg* msg)
{
    return msg != nullptr ? morvantis::TransmitMessage(*msg, true) : kFailure;
}

MORVANTIS_API int32_t MORVANTIS_CALL CAN_Read_extMsg(CanExtMsg* msg)
{
    return msg != nullptr ? morvantis::ReceiveMessage(*msg) : kFailure;
}

MORVANTIS_API int32_t MORVANTIS_CALL CAN_Send_extMsg(const CanExtMsg* msg)
{
    return msg != nullptr ? morvantis::TransmitMessage(*msg, false) : kFailure;
}

MORVANTIS_API int32_t MORVANTIS_CALL CAN_Send_extRTR(const CanExtMsg* msg)
{
    return msg != nullptr ? morvantis::TransmitMessage(*msg, true) : kFailure;
}

MORVANTIS_API int32_t MORVANTIS_CALL CAN_InterfaceSetup(void* owner)
{
    return morvantis::RunSetupDialog(owner);
}

MORVANTIS_API int32_t MORVANTIS_CALL CAN_DLL_Info(CanDllInfo* info)
{
    if (info == nullptr) {
        return kFailure;
    }
    morvantis::FillDllInfo(*info);
    return kSuccess;
}

MORVANTIS_API int32_t MORVANTIS_CALL CAN_Status(CanStatusRecord* status)
{
    if (status == nullptr) {
        return kFailure;
    }
    morvantis::FillStatus(*status);
    return kSuccess;
}

MORVANTIS_API int32_t MORVANTIS_CALL CAN_Init_One_ID(int32_t kbit, uint32_t filterId)
{
    return morvantis::InitOneId(kbit, filterId);
}

} // extern "C"
