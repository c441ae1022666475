/*
 * The statuses of the CAN driver library VCAND32.DLL and the identifier
 * masks used with it: one list for the library, the simulated driver and
 * the test programs. Plain C.
 *
 * A status is 16 bits wide; 0 is success.
 */
#ifndef MORVANTIS_NCD_STATUS_H
#define MORVANTIS_NCD_STATUS_H

/*
 * The statuses the driver gives, each with the reason the library's status
 * report names: NCD_STATUSES(X) expands X(name, value, reason) once per
 * status.
 */
#define NCD_STATUSES(X)                                                                            \
    X(NCD_QUEUE_IS_EMPTY, 10, "QUEUE_IS_EMPTY")                                                    \
    X(NCD_QUEUE_IS_FULL, 11, "QUEUE_IS_FULL")                                                      \
    X(NCD_TX_NOT_POSSIBLE, 12, "TX_NOT_POSSIBLE")                                                  \
    X(NCD_WRONG_PARAMETER, 101, "WRONG_PARAMETER")                                                 \
    X(NCD_TWICE_REGISTER, 110, "TWICE_REGISTER")                                                   \
    X(NCD_INVALID_CHAN_INDEX, 111, "INVALID_CHAN_INDEX")                                           \
    X(NCD_INVALID_ACCESS, 112, "INVALID_ACCESS")                                                   \
    X(NCD_PORT_IS_OFFLINE, 113, "PORT_IS_OFFLINE (e.g. CANCAB not connected)")                     \
    X(NCD_CHAN_IS_ONLINE, 116, "CHAN_IS_ONLINE")                                                   \
    X(NCD_INVALID_PORT, 118, "INVALID_PORT")                                                       \
    X(NCD_HW_NOT_READY, 120, "HW_NOT_READY")                                                       \
    X(NCD_CMD_TIMEOUT, 121, "CMD_TIMEOUT")                                                         \
    X(NCD_HW_NOT_PRESENT, 129, "HW_NOT_PRESENT")                                                   \
    X(NCD_NOTIFY_ALREADY_ACTIVE, 131, "NOTIFY_ALREADY_ACTIVE")                                     \
    X(NCD_CANNOT_OPEN_DRIVER, 201, "CANNOT_OPEN_DRIVER")

enum NcdStatusCode {
    NCD_SUCCESS = 0,
#define NCD_STATUS_ENUMERATOR(name, value, reason) name = value,
    NCD_STATUSES(NCD_STATUS_ENUMERATOR)
#undef NCD_STATUS_ENUMERATOR
    /* ncdOpenPort could not open a port; a status without a reason */
    NCD_PORT_NOT_OPENED = 0xFFFF
};

/* Bit 31 of an identifier marks an extended (29-bit) one. */
#define NCD_EXTENDED_ID 0x80000000u

/* Acceptance masks that let exactly one identifier pass: every bit of a
 * standard identifier, or every bit of an extended one and its mark. */
#define NCD_MATCH_STANDARD_ID 0x000007FFu
#define NCD_MATCH_EXTENDED_ID 0x9FFFFFFFu

#endif
