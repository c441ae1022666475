/*
 * Control of the simulated CAN driver: a bus on which every channel of
 * the catalogue exists and all channels share one bus. Tests script the
 * driver's answers through these functions and read the log of every call
 * the driver received. Plain C, so that Windows test programs can import it
 * from the simulated VCAND32.DLL.
 *
 * Threads: one lock guards the whole bus, so every driver operation and
 * every function below may be called from any thread at any time; each
 * takes effect between two operations, and a call that overlaps it sees
 * the bus wholly before or wholly after. Scripts and injected events meant
 * for a given call are set before that call starts. Two rules remain, as on
 * a real driver:
 * - The event a RECEIVE hands out is the port's own and stays as it is
 *   only until the next RECEIVE on that port, CLOSE_PORT of it or
 *   simReset: one thread at a time reads a port, and a port is closed, or
 *   the bus reset, only while no thread still looks at such an event.
 * - The log keeps the first 4096 calls after simClearCalls. A logged entry
 *   does not change until simClearCalls; while other threads make calls,
 *   the count may grow between simCallCount and simGetCall.
 */
#ifndef MORVANTIS_SIM_CONTROL_H
#define MORVANTIS_SIM_CONTROL_H

#include "driver/ncd_status.h" /* the statuses the simulated driver gives */

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32) && !defined(SIM_BUILDING)
#define SIM_API __declspec(dllimport)
#elif defined(_WIN32)
#define SIM_API
#else
#define SIM_API __attribute__((visibility("default")))
#endif

typedef enum SimOp {
    SIM_OPEN_DRIVER,
    SIM_CLOSE_DRIVER,
    SIM_GET_CHANNEL_MASK,
    SIM_OPEN_PORT,
    SIM_CLOSE_PORT,
    SIM_SET_BITRATE,
    SIM_SET_OUTPUT,
    SIM_SET_ACCEPTANCE,
    SIM_SET_MODE,
    SIM_ACTIVATE,
    SIM_RECEIVE,
    SIM_TRANSMIT,
    SIM_OP_COUNT
} SimOp;

/*
 * One driver call as received. arg holds the arguments in order, with
 * what pointers pointed at read out where that means something:
 *   GET_CHANNEL_MASK: type, index, channel; result = the mask
 *   OPEN_PORT: handle given back, access mask, init mask, permission
 *              given back, queue size; name = the application name
 *   SET_BITRATE / SET_OUTPUT: handle, mask, value
 *   SET_ACCEPTANCE: handle, mask, filter code, filter mask
 *   SET_MODE: handle, mask, tx, txrq
 *   CLOSE_PORT / ACTIVATE / RECEIVE / TRANSMIT: handle (, mask)
 *   RECEIVE: event = the event handed out (when status is 0)
 *   TRANSMIT: event = the event as the caller passed it
 */
typedef struct SimCall {
    int32_t op;
    uint32_t result; /* status, or the mask for GET_CHANNEL_MASK */
    uint32_t arg[5];
    char name[36];
    uint8_t event[22];
} SimCall;

/* A fresh bus: no port, driver closed, no scripts, log empty. */
SIM_API void simReset(void);

/* Every later call of op answers status and does nothing else (OPEN_PORT
 * gives back handle -1 and permission 0). Status 0 restores the usual answers. */
SIM_API void simSetStatus(int32_t op, uint16_t status);

/* As simSetStatus, but the next `calls` calls of op still go as usual. */
SIM_API void simSetStatusAfter(int32_t op, uint16_t status, int32_t calls);

/* The mask GET_CHANNEL_MASK gives for this triple from now on (0: none). */
SIM_API void simSetChannelMask(int32_t hwType, int32_t hwIndex, int32_t hwChannel, uint32_t mask);

/* Every later OPEN_PORT answers status and gives back handle and
 * permission. A handle other than -1 is opened as a real port with that
 * number and that init access. */
SIM_API void simScriptOpenPort(uint16_t status, int32_t handle, uint32_t permission);
SIM_API void simClearOpenPortScript(void);

/* While on, every RECEIVE answers status 0 but gives back no event (a
 * null event pointer), as a misbehaving driver might. */
SIM_API void simReceiveNothing(int32_t on);

/* On Windows, results carry these bits in their upper half, as a driver
 * may: only the low 16 bits are the status. */
SIM_API void simSetResultHighBits(uint16_t bits);

/* Puts a raw 22-byte event into a port's receive queue, as the bus would
 * (a full queue drops it and flags the next delivered event). 0 or a
 * status. */
SIM_API int32_t simInjectEvent(int32_t port, const void* event);

/* The call log. Logging can be switched off for measurements. */
SIM_API void simSetLogging(int32_t on);
SIM_API int32_t simCallCount(void);
SIM_API int32_t simGetCall(int32_t index, SimCall* call);
SIM_API void simClearCalls(void);

/* State, for checks. */
SIM_API int32_t simOpenPortCount(void);
SIM_API int32_t simDriverOpenCount(void);
SIM_API int32_t simQueuedEvents(int32_t port);
SIM_API uint32_t simActiveChannels(int32_t port);
SIM_API int32_t simChannelBitrate(uint32_t channelMask);

#ifdef __cplusplus
}
#endif

#endif
