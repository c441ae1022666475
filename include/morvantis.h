/*
 * morvantis: one CAN channel behind fourteen plain functions.
 *
 * Load morvantis.dll (or link against its import library), call CAN_Init,
 * exchange frames with the read and send functions, call CAN_Exit.
 * Every function returns 0 for success and -1 for failure, except
 * CAN_InterfaceSetup (the dialog result) and CAN_Exit (always 0).
 * CAN_DLL_Info and CAN_Status return 0, or -1 for a null record pointer.
 *
 * Identifiers: bit 31 (MORVANTIS_EXTENDED_ID) set marks an extended 29-bit
 * identifier, clear a standard 11-bit one. The library passes identifiers
 * through unchanged.
 *
 * Plain C; usable from C and C++. All records are packed, little-endian.
 */
#ifndef MORVANTIS_H
#define MORVANTIS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define MORVANTIS_CALL __stdcall
#else
#define MORVANTIS_CALL
#endif

#if defined(MORVANTIS_BUILDING)
#if defined(_WIN32)
#define MORVANTIS_API
#else
#define MORVANTIS_API __attribute__((visibility("default")))
#endif
#elif defined(_WIN32)
#define MORVANTIS_API __declspec(dllimport)
#else
#define MORVANTIS_API
#endif

#define MORVANTIS_EXTENDED_ID 0x80000000u

#pragma pack(push, 1)

/* Standard frame record: 11-bit identifier in a 16-bit field. */
typedef struct CanMsg {
    uint16_t id;
    uint8_t length;  /* data length code */
    uint8_t overrun; /* written by CAN_Read_Msg: 1 when the driver lost frames */
    uint8_t data[8];
} CanMsg;

/* Extended frame record: 32-bit identifier, bit 31 marks a 29-bit one. */
typedef struct CanExtMsg {
    uint32_t id;
    uint8_t length;
    uint8_t overrun; /* written by CAN_Read_extMsg */
    uint8_t data[8];
} CanExtMsg;

/* Filled by CAN_DLL_Info. Byte 10 is left as the caller had it. */
typedef struct CanDllInfo {
    uint8_t infoTag;         /* 1 */
    char dllVersion[5];      /* "1.00" */
    char placeholderText[4]; /* "???" */
    uint8_t unused;          /* not written */
    char channelName[20];    /* display name of the configured channel */
    char makerName[20];      /* "Kvaser" */
    char trailChar;          /* '0' */
} CanDllInfo;

/* Filled by CAN_Status: element 9 is the bitrate setting in kbit/s, all
 * others are -1. */
typedef struct CanStatusRecord {
    int32_t value[16];
} CanStatusRecord;

#pragma pack(pop)

#define MORVANTIS_STATUS_BITRATE 9

#if defined(__cplusplus) && __cplusplus >= 201103L
#define MORVANTIS_SIZE_CHECK(type, size) static_assert(sizeof(type) == (size), #type " layout")
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define MORVANTIS_SIZE_CHECK(type, size) _Static_assert(sizeof(type) == (size), #type " layout")
#else
#define MORVANTIS_SIZE_CHECK(type, size)                                                           \
    typedef char morvantis_size_check_##type[sizeof(type) == (size) ? 1 : -1]
#endif
MORVANTIS_SIZE_CHECK(CanMsg, 12);
MORVANTIS_SIZE_CHECK(CanExtMsg, 14);
MORVANTIS_SIZE_CHECK(CanDllInfo, 52);
MORVANTIS_SIZE_CHECK(CanStatusRecord, 64);
#undef MORVANTIS_SIZE_CHECK

/*
 * Threads. The functions form three groups:
 *
 *   configuration: CAN_Init, CAN_Exit, CAN_Reset, CAN_Bitrate,
 *                  CAN_Init_One_ID, CAN_InterfaceSetup
 *   exchange:      reading: CAN_Read_Msg, CAN_Read_extMsg
 *                  sending: CAN_Send_Msg, CAN_Send_RTR, CAN_Send_extMsg,
 *                           CAN_Send_extRTR
 *   information:   CAN_DLL_Info, CAN_Status
 *
 * - A configuration call must not overlap any other call of the library, of
 *   any group: it opens, sets up and closes the driver port that the others
 *   use and changes the settings. Bring the channel up before the reading
 *   and sending threads start, and take it down after they have stopped.
 * - One thread may read while another sends: a read and a send may overlap.
 *   Reads must not overlap each other (the driver hands a received frame
 *   over in a buffer of the port's that the next read on the port reuses),
 *   nor sends each other (the library promises no order between them, and
 *   asks of the driver no more than one sending caller per port). An
 *   application that reads, or sends, on more than one thread lets them
 *   take turns under a lock of its own.
 * - The information functions may overlap each other and any read or send:
 *   they only read the settings, which only configuration calls change.
 * - Records: a function reads or fills the record it is given during the
 *   call only, and keeps no pointer to it. Another thread must not use that
 *   record during the call; after it, the caller may reuse or free it.
 */

/* Ordinals 1 to 14, in this order. */

/* Configuration: no other call of the library may overlap these. */
MORVANTIS_API int32_t MORVANTIS_CALL CAN_Init(void);
MORVANTIS_API int32_t MORVANTIS_CALL CAN_Exit(void);
MORVANTIS_API int32_t MORVANTIS_CALL CAN_Reset(void);
MORVANTIS_API int32_t MORVANTIS_CALL CAN_Bitrate(int32_t kbit);

/* Exchange: one reading thread and one sending thread at a time, beside
 * the information functions. */
MORVANTIS_API int32_t MORVANTIS_CALL CAN_Read_Msg(CanMsg* msg);
MORVANTIS_API int32_t MORVANTIS_CALL CAN_Send_Msg(const CanMsg* msg);
MORVANTIS_API int32_t MORVANTIS_CALL CAN_Send_RTR(const CanMsg* msg);
MORVANTIS_API int32_t MORVANTIS_CALL CAN_Read_extMsg(CanExtMsg* msg);
MORVANTIS_API int32_t MORVANTIS_CALL CAN_Send_extMsg(const CanExtMsg* msg);
MORVANTIS_API int32_t MORVANTIS_CALL CAN_Send_extRTR(const CanExtMsg* msg);

/* Configuration: the modal dialog runs on the calling thread; its OK
 * brings the channel up again. owner: the owner window's handle (HWND), or
 * null. */
MORVANTIS_API int32_t MORVANTIS_CALL CAN_InterfaceSetup(void* owner);

/* Information: from any thread, beside each other and the exchange. */
MORVANTIS_API int32_t MORVANTIS_CALL CAN_DLL_Info(CanDllInfo* info);
MORVANTIS_API int32_t MORVANTIS_CALL CAN_Status(CanStatusRecord* status);

/* Configuration. kbit 0 keeps the bitrate; filterId -1 takes the filters
 * of the settings. */
MORVANTIS_API int32_t MORVANTIS_CALL CAN_Init_One_ID(int32_t kbit, uint32_t filterId);

#ifdef __cplusplus
}
#endif

#endif /* MORVANTIS_H */
