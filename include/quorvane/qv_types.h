/* Quorvane: base types, exception numbers, callback reasons, records. */
#ifndef QUORVANE_QV_TYPES_H
#define QUORVANE_QV_TYPES_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define QUORVANE_EXTERN_C extern "C"
#else
#define QUORVANE_EXTERN_C extern
#endif

#if defined(_WIN32)
/* Quorvane.dll exports through a module definition file, so that modules
 * that link the engine statically (the automation server) export nothing
 * of it. */
#  if defined(QUORVANE_BUILDING_ENGINE) || defined(QUORVANE_STATIC)
#    define QUORVANE_API QUORVANE_EXTERN_C
#  else
#    define QUORVANE_API QUORVANE_EXTERN_C __declspec(dllimport)
#  endif
#  if defined(_M_IX86) || defined(__i386__)
#    define QUORVANE_CALL __stdcall
#  else
#    define QUORVANE_CALL
#  endif
#else
#  define QUORVANE_API QUORVANE_EXTERN_C __attribute__((visibility("default")))
#  define QUORVANE_CALL
#endif

typedef uint8_t QV_UCHAR;
typedef uint8_t QV_BOOLEAN;
typedef uint16_t QV_USHORT;
typedef uint32_t QV_ULONG;
/* A UTF-16 code unit (wide names of files and devices). */
typedef uint16_t QV_WCHAR;
typedef int32_t QV_LONG;
typedef uint64_t QV_ULONGLONG;
typedef int64_t QV_LONGLONG;
typedef void *QV_HANDLE;

/* Engine version returned by Quorvane_GetVersion. */
#define QUORVANE_ENGINE_VERSION 0x20060630u

/* Exception numbers: the result of every entry point. */
enum {
  EN_SUCCESS = 0,
  EN_GENERIC_ERROR = 1,
  EN_INVALID_PARAMETER = 2,
  EN_INVALID_STATE = 3,
  EN_MEMORY_ALLOCATION_FAILED = 4,
  EN_SYSTEM_CALL_FAILED = 5,
  EN_SCSI_TRANSPORT_ERROR = 6,
  EN_DEVICE_BUSY = 7,
  EN_CDB_CALL_FAILED = 8,
  EN_DEVICE_TYPE_UNSUPPORTED = 9,
  EN_UNEXPECTED_RESULT = 10,
  EN_BUFFER_UNDERRUN = 11,
  EN_EXCEPTION_NOT_ALLOCATED = 12,
  EN_RESERVED_13 = 13,
  EN_USER_EXCEPTION = 14,
  EN_PATH_TOO_LONG = 15,
  EN_UNDER_CONSTRUCTION = 16,
  EN_NOT_FOUND = 17,
  EN_FILE_TOO_BIG = 18,
  EN_NOT_IMPLEMENTED = 19,
  EN_INVALID_RANGE = 20,
  EN_NOT_INITIALIZED = 21,
  EN_UNSUPPORTED_AUDIO_FORMAT = 22,
  EN_EDC_ECC_MISMATCH = 25,
  EN_POSITIONING_ERROR = 27,
  EN_UNRECOVERED_READ_ERROR = 28,
  EN_ILLEGAL_OPERATION_FOR_TRACK = 29,
  EN_READ_MODE_UNSUPPORTED = 30,
  EN_READ_REQUEST_TOO_LARGE = 31,
  EN_RESERVE_TRACK_REFUSED = 32,
  EN_SHARING_VIOLATION = 35,
  EN_OBSOLETE_CALL = 36,
  EN_UNSUPPORTED_OS_VERSION = 37
};

/* Callback reasons. */
enum {
  CN_PREPARING_TO_WRITE = 4,
  CN_WRITE_SIZE_KNOWN = 5,
  CN_WAITING_FOR_CACHE = 6,
  CN_CACHE_FILLED = 7,
  CN_SYNCHRONIZE_CACHE_BEGIN = 8,
  CN_SYNCHRONIZE_CACHE_END = 9,
  CN_DEVICE_FOUND = 10,
  CN_GRAB_PROGRESS = 11,
  CN_CDVD_WRITE_PROGRESS = 12,
  CN_CDVD_BUFFER_STATUS = 13,
  CN_GRAB_TRACK_BEGIN = 14,
  CN_GRAB_TRACK_END = 15,
  CN_GRAB_PART_BEGIN = 16,
  CN_GRAB_PART_END = 17,
  CN_GRAB_BLOCK_REPLACED = 18,
  CN_GRAB_BAD_EDC_ECC = 19,
  CN_GRAB_RETRY = 20,
  CN_DVDPLUSRW_FORMAT_BEGIN = 21,
  CN_DVDPLUSRW_FORMAT_END = 22,
  CN_DVDRAM_FORMAT_BEGIN = 23,
  CN_DVDRAM_FORMAT_END = 24,
  CN_BUFFER_UNDERRUN = 25,
  CN_DVD_PADDING_SIZE = 26,
  CN_DVD_PADDING_BEGIN = 27,
  CN_DVD_PADDING_END = 28,
  CN_DVDRW_FORMAT_BEGIN = 30,
  CN_DVDRW_FORMAT_END = 31,
  CN_DVD_TEST_WRITE_DISABLED = 32,
  CN_TRACK_BEGIN = 37,
  CN_TRACK_END = 38,
  CN_DVD_PADDING_PROGRESS = 39,
  CN_WRITING_BEGIN = 40,
  CN_WRITING_END = 41,
  /* A file being recorded changed size after it was sized (or went away);
   * parameter 1 is its name. The track keeps the sized length: a grown file
   * is cut to it, a shrunk one completed with zeros. */
  CN_FILE_CHANGED = 42,
  /* Blanking or formatting: how far the drive says it got, while it works.
   * Parameter 1 is 65536 (the whole), parameter 2 the part done, rising;
   * the last report before the end may be below the whole. */
  CN_BLANK_FORMAT_PROGRESS = 43
};

/* Disc types. */
enum {
  DISC_TYPE_UNKNOWN = 0,
  DISC_TYPE_CDROM = 1,
  DISC_TYPE_CDR = 2,
  DISC_TYPE_CDRW = 3,
  DISC_TYPE_DVDROM = 4,
  DISC_TYPE_DVDR = 5,
  DISC_TYPE_DVDRAM = 6,
  DISC_TYPE_DVDRW_RO = 7,
  DISC_TYPE_DVDRW_SR = 8,
  DISC_TYPE_DVDPLUSRW = 9,
  DISC_TYPE_DDCDROM = 10,
  DISC_TYPE_DDCDR = 11,
  DISC_TYPE_DDCDRW = 12,
  DISC_TYPE_DVDPLUSR = 13,
  DISC_TYPE_DVDPLUSR_DL = 15
};

/* Callback through which long operations report. It runs synchronously on
 * the thread doing the work; context is handed back unchanged. */
typedef void(QUORVANE_CALL *PQUORVANE_CALLBACK)(QV_ULONG reason, void *context,
                                                 void *parameter1, void *parameter2);

#if defined(_MSC_VER)
#pragma pack(push, 1)
#define QUORVANE_PACKED
#else
#pragma pack(push, 1)
#define QUORVANE_PACKED __attribute__((packed))
#endif

/* The description of a failed command: 54 bytes, packed. The sense key of
 * the failure is byte 21 & 0x0F, its ASC byte 31, ASCQ byte 32 and its
 * operation code byte 2. */
typedef struct QUORVANE_PACKED CDB_FAILURE_INFORMATION {
  QV_UCHAR m__UCHAR__IsValid;           /* 1 when a transport filled the record */
  QV_UCHAR m__UCHAR__CDBLength;         /* 6, 10 or 12 */
  QV_UCHAR m__UCHAR__CDB[16];           /* as sent; zero past the length */
  QV_UCHAR m__UCHAR__SenseLength;       /* 32, or 14 for the ASPI transport */
  QV_UCHAR m__UCHAR__Sense[32];         /* fixed-format sense data */
  QV_UCHAR m__UCHAR__TransportStatus;   /* ASPI request status, else 0 */
  QV_UCHAR m__UCHAR__TargetStatus;      /* SCSI status byte */
  QV_UCHAR m__UCHAR__HostAdapterStatus; /* ASPI host adapter status, else 0 */
} CDB_FAILURE_INFORMATION, *PCDB_FAILURE_INFORMATION;

/* The address of a device found by Quorvane_FindDevice (5 bytes). */
typedef struct QUORVANE_PACKED QUORVANE_DEVICE_ADDRESS {
  QV_UCHAR m__UCHAR__IsValid;
  QV_UCHAR m__UCHAR__PortId;
  QV_UCHAR m__UCHAR__PathId;
  QV_UCHAR m__UCHAR__TargetId;
  QV_UCHAR m__UCHAR__LUN;
} QUORVANE_DEVICE_ADDRESS, *PQUORVANE_DEVICE_ADDRESS;

#pragma pack(pop)

#ifdef __cplusplus
static_assert(sizeof(CDB_FAILURE_INFORMATION) == 54, "failure record is 54 bytes");
static_assert(sizeof(QUORVANE_DEVICE_ADDRESS) == 5, "device address is 5 bytes");
#else
typedef char quorvane_check_failure_size[sizeof(CDB_FAILURE_INFORMATION) == 54 ? 1 : -1];
typedef char quorvane_check_address_size[sizeof(QUORVANE_DEVICE_ADDRESS) == 5 ? 1 : -1];
#endif

/* Maximum text an exception carries, with its terminator. */
#define QUORVANE_EXCEPTION_TEXT_SIZE 4096

#endif /* QUORVANE_QV_TYPES_H */
