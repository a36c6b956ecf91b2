#pragma once
// TWAIN 1.x protocol definitions: the data types, structures and constants that the application
// and the source manager exchange through DSM_Entry, written from the TWAIN standard's published
// definitions. Structures use the standard's 2-byte packing.
//
// Two things differ from the standard's Windows header because Linux has no such objects:
// TW_HANDLE is our movable-memory handle (platform/twain/twain_handle.h), and the parent window
// is a VantrelMessageTarget (platform/message_target.h). DAT_PARENT and TW_USERINTERFACE.hParent
// carry a pointer to that target, and TW_EVENT.pEvent points to a TW_WINDOWMSG.

#include "platform/message_target.h"

#ifdef __cplusplus
#include <cstdint>
extern "C" {
#else
#include <stdint.h>
#endif

typedef char TW_STR32[34];
typedef char TW_STR255[256];
typedef int8_t TW_INT8;
typedef int16_t TW_INT16;
typedef int32_t TW_INT32;
typedef uint8_t TW_UINT8;
typedef uint16_t TW_UINT16;
typedef uint32_t TW_UINT32;
typedef uint16_t TW_BOOL;
typedef void* TW_MEMREF;
typedef struct TwHandleBlock* TW_HANDLE;

#pragma pack(push, 2)

typedef struct {
    TW_INT16 Whole;
    TW_UINT16 Frac;
} TW_FIX32;

typedef struct {
    TW_UINT16 MajorNum;
    TW_UINT16 MinorNum;
    TW_UINT16 Language;
    TW_UINT16 Country;
    TW_STR32 Info;
} TW_VERSION;

typedef struct {
    TW_UINT32 Id;
    TW_VERSION Version;
    TW_UINT16 ProtocolMajor;
    TW_UINT16 ProtocolMinor;
    TW_UINT32 SupportedGroups;
    TW_STR32 Manufacturer;
    TW_STR32 ProductFamily;
    TW_STR32 ProductName;
} TW_IDENTITY, *pTW_IDENTITY;

typedef struct {
    TW_UINT16 ConditionCode;
    TW_UINT16 Reserved;
} TW_STATUS;

typedef struct {
    TW_BOOL ShowUI;
    TW_BOOL ModalUI;
    VantrelMessageTarget* hParent;
} TW_USERINTERFACE;

// The window message handed to the source with MSG_PROCESSEVENT (the standard's MSG).
typedef struct {
    VantrelMessageTarget* hwnd;
    TW_UINT32 message;
    uintptr_t wParam;
    intptr_t lParam;
    TW_UINT32 time;
    TW_INT32 ptX;
    TW_INT32 ptY;
} TW_WINDOWMSG;

typedef struct {
    TW_MEMREF pEvent;
    TW_UINT16 TWMessage;
} TW_EVENT;

typedef struct {
    TW_UINT16 Cap;
    TW_UINT16 ConType;
    TW_HANDLE hContainer;
} TW_CAPABILITY;

typedef struct {
    TW_UINT16 ItemType;
    TW_UINT32 Item;
} TW_ONEVALUE;

typedef struct {
    TW_UINT16 ItemType;
    TW_UINT32 MinValue;
    TW_UINT32 MaxValue;
    TW_UINT32 StepSize;
    TW_UINT32 DefaultValue;
    TW_UINT32 CurrentValue;
} TW_RANGE;

typedef struct {
    TW_UINT16 ItemType;
    TW_UINT32 NumItems;
    TW_UINT32 CurrentIndex;
    TW_UINT32 DefaultIndex;
    TW_UINT8 ItemList[1];
} TW_ENUMERATION;

typedef struct {
    TW_FIX32 Left;
    TW_FIX32 Top;
    TW_FIX32 Right;
    TW_FIX32 Bottom;
} TW_FRAME;

typedef struct {
    TW_FRAME Frame;
    TW_UINT32 DocumentNumber;
    TW_UINT32 PageNumber;
    TW_UINT32 FrameNumber;
} TW_IMAGELAYOUT;

typedef struct {
    TW_FIX32 XResolution;
    TW_FIX32 YResolution;
    TW_INT32 ImageWidth;
    TW_INT32 ImageLength;
    TW_INT16 SamplesPerPixel;
    TW_INT16 BitsPerSample[8];
    TW_INT16 BitsPerPixel;
    TW_BOOL Planar;
    TW_INT16 PixelType;
    TW_UINT16 Compression;
} TW_IMAGEINFO;

typedef struct {
    TW_UINT16 Count;
    TW_UINT32 Reserved;
} TW_PENDINGXFERS;

// The DIB that DAT_IMAGENATIVEXFER hands over starts with this header (BITMAPINFOHEADER).
typedef struct {
    TW_UINT32 biSize;
    TW_INT32 biWidth;
    TW_INT32 biHeight;
    TW_UINT16 biPlanes;
    TW_UINT16 biBitCount;
    TW_UINT32 biCompression;
    TW_UINT32 biSizeImage;
    TW_INT32 biXPelsPerMeter;
    TW_INT32 biYPelsPerMeter;
    TW_UINT32 biClrUsed;
    TW_UINT32 biClrImportant;
} TW_BITMAPINFOHEADER;

#pragma pack(pop)

// Data groups.
#define DG_CONTROL 0x0001UL
#define DG_IMAGE 0x0002UL

// Data argument types.
#define DAT_NULL 0x0000
#define DAT_CAPABILITY 0x0001
#define DAT_EVENT 0x0002
#define DAT_IDENTITY 0x0003
#define DAT_PARENT 0x0004
#define DAT_PENDINGXFERS 0x0005
#define DAT_SETUPMEMXFER 0x0006
#define DAT_SETUPFILEXFER 0x0007
#define DAT_STATUS 0x0008
#define DAT_USERINTERFACE 0x0009
#define DAT_XFERGROUP 0x000a
#define DAT_IMAGEINFO 0x0101
#define DAT_IMAGELAYOUT 0x0102
#define DAT_IMAGEMEMXFER 0x0103
#define DAT_IMAGENATIVEXFER 0x0104
#define DAT_IMAGEFILEXFER 0x0105

// Messages.
#define MSG_NULL 0x0000
#define MSG_GET 0x0001
#define MSG_GETCURRENT 0x0002
#define MSG_GETDEFAULT 0x0003
#define MSG_GETFIRST 0x0004
#define MSG_GETNEXT 0x0005
#define MSG_SET 0x0006
#define MSG_RESET 0x0007
#define MSG_QUERYSUPPORT 0x0008
#define MSG_XFERREADY 0x0101
#define MSG_CLOSEDSREQ 0x0102
#define MSG_CLOSEDSOK 0x0103
#define MSG_DEVICEEVENT 0x0104
#define MSG_OPENDSM 0x0301
#define MSG_CLOSEDSM 0x0302
#define MSG_OPENDS 0x0401
#define MSG_CLOSEDS 0x0402
#define MSG_USERSELECT 0x0403
#define MSG_DISABLEDS 0x0501
#define MSG_ENABLEDS 0x0502
#define MSG_ENABLEDSUIONLY 0x0503
#define MSG_PROCESSEVENT 0x0601
#define MSG_ENDXFER 0x0701
#define MSG_STOPFEEDER 0x0702

// Return codes.
#define TWRC_SUCCESS 0
#define TWRC_FAILURE 1
#define TWRC_CHECKSTATUS 2
#define TWRC_CANCEL 3
#define TWRC_DSEVENT 4
#define TWRC_NOTDSEVENT 5
#define TWRC_XFERDONE 6
#define TWRC_ENDOFLIST 7

// Condition codes.
#define TWCC_SUCCESS 0
#define TWCC_BUMMER 1
#define TWCC_LOWMEMORY 2
#define TWCC_NODS 3
#define TWCC_MAXCONNECTIONS 4
#define TWCC_OPERATIONERROR 5
#define TWCC_BADCAP 6
#define TWCC_BADPROTOCOL 9
#define TWCC_BADVALUE 10
#define TWCC_SEQERROR 11
#define TWCC_BADDEST 12
#define TWCC_CAPUNSUPPORTED 13
#define TWCC_CAPBADOPERATION 14
#define TWCC_CAPSEQERROR 15
#define TWCC_PAPERJAM 20
#define TWCC_INTERLOCK 24
#define TWCC_NOMEDIA 29
// Our own condition (above TWAIN's custom base): the scanner's driver crashed, hung or stopped
// answering, and the acquisition was ended for it.
#define TWCC_DRIVERLOST 0x8001
// Our own condition: the scan was cancelled at the device (its cancel button, say).
#define TWCC_SCANCANCELLED 0x8002

// Container types.
#define TWON_ARRAY 3
#define TWON_ENUMERATION 4
#define TWON_ONEVALUE 5
#define TWON_RANGE 6
#define TWON_DONTCARE16 0xffff

// Item types.
#define TWTY_INT8 0x0000
#define TWTY_INT16 0x0001
#define TWTY_INT32 0x0002
#define TWTY_UINT8 0x0003
#define TWTY_UINT16 0x0004
#define TWTY_UINT32 0x0005
#define TWTY_BOOL 0x0006
#define TWTY_FIX32 0x0007
#define TWTY_FRAME 0x0008
#define TWTY_STR32 0x0009

// Capabilities.
#define CAP_XFERCOUNT 0x0001
#define ICAP_COMPRESSION 0x0100
#define ICAP_PIXELTYPE 0x0101
#define ICAP_UNITS 0x0102
#define ICAP_XFERMECH 0x0103
#define ICAP_XRESOLUTION 0x1118
#define ICAP_YRESOLUTION 0x1119

// Pixel types.
#define TWPT_BW 0
#define TWPT_GRAY 1
#define TWPT_RGB 2

#define TWCP_NONE 0

typedef TW_UINT16 (*DSMENTRYPROC)(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG,
                                  TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData);

#ifdef __cplusplus
}
static_assert(sizeof(TW_IDENTITY) == 156);
static_assert(sizeof(TW_ONEVALUE) == 6);
static_assert(sizeof(TW_BITMAPINFOHEADER) == 40);
static_assert(sizeof(TW_IMAGEINFO) == 42);
#endif
