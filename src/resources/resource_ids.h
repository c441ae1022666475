// Control identifiers of the setup dialog template "CANINTERFACE". Shared
// by the resource script and the code, so plain preprocessor constants.
#ifndef MORVANTIS_RESOURCE_IDS_H
#define MORVANTIS_RESOURCE_IDS_H

#define IDC_CHANNEL_INDEX 1010
#define IDC_BITRATE 1011
#define IDC_GLOBAL_CODE_STD 1021
#define IDC_GLOBAL_MASK_STD 1022
#define IDC_GLOBAL_MASK_XTD 1023
#define IDC_GLOBAL_CODE_XTD 1024
#define IDC_DLL_VERSION 1025

#define SETUP_DIALOG_NAME "CANINTERFACE"

#endif
