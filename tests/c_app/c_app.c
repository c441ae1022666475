/* An application written in C against the public header, linked the way
 * applications link: the import library on Windows, the shared library
 * natively. It checks what needs no particular settings file. */
#include "morvantis.h"

#include <stdio.h>
#include <string.h>

static int failures = 0;

static void check(int ok, const char* what)
{
    if (!ok) {
        printf("check failed: %s\n", what);
        ++failures;
    }
}

int main(void)
{
    CanDllInfo info;
    CanStatusRecord status;
    CanMsg msg;

    memset(&info, 0xAA, sizeof info);
    check(CAN_DLL_Info(&info) == 0, "CAN_DLL_Info returns 0");
    check(info.infoTag == 1, "info tag");
    check(memcmp(info.dllVersion, "1.00", 5) == 0, "version text");
    check(memcmp(info.makerName, "Kvaser\0\0\0\0\0\0\0\0\0\0\0\0\0", 20) == 0, "maker field");
    check(info.unused == 0xAA, "byte 10 untouched");

    check(CAN_Status(&status) == 0, "CAN_Status returns 0");
    check(status.value[0] == -1 && status.value[15] == -1, "status elements");

    check(CAN_DLL_Info(NULL) == -1, "null record refused");
    check(CAN_Init() == 0, "CAN_Init on the simulated bench");
    memset(&msg, 0, sizeof msg);
    msg.id = 0x123;
    msg.length = 2;
    check(CAN_Send_Msg(&msg) == 0, "send");
    check(CAN_Read_Msg(&msg) == -1, "nothing to read");
    check(CAN_Exit() == 0, "CAN_Exit returns 0");

    printf("%d passed, %d failed\n", failures == 0 ? 1 : 0, failures == 0 ? 0 : 1);
    return failures == 0 ? 0 : 1;
}
