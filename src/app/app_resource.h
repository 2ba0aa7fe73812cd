// Resource ids of setup.exe itself; the pages' ids are in pages/resource.h.
#pragma once

#define IDI_APPLICATION_ICON 128
#define IDD_FRAME 139
// The configuration text, type "INI", and the payload archive, type "DATA".
#define IDR_CONFIG_TEXT 138
#define IDR_PAYLOAD 148
// Their SHA-256 digests, type "DIGEST", checked at start-up.
#define IDR_DIGEST 140
#define IDR_ENTRY_DIGESTS 141
