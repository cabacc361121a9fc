/* Quorvane: start-up, process-wide settings, device discovery. */
#ifndef QUORVANE_QV_CORE_H
#define QUORVANE_QV_CORE_H

#include "qv_types.h"

/* Start-up and shut-down. Quorvane_UpStartEx returns 0, or
 * EN_UNSUPPORTED_OS_VERSION; the obsolete Quorvane_UpStart returns
 * EN_OBSOLETE_CALL and starts nothing. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_UpStartEx(void);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_UpStart(void);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_DownShut(void);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_GetVersion(void);
/* The start-up banner, with its version. */
QUORVANE_API const char *QUORVANE_CALL Quorvane_GetBanner(void);

/* The text of an exception number, or NULL for numbers without one. */
QUORVANE_API const char *QUORVANE_CALL Quorvane_GetExceptionText(QV_ULONG exceptionNumber);

/* Renumbers a read failure from its sense data (see the manual). */
QUORVANE_API void QUORVANE_CALL Quorvane_MutilateExceptionNumber(
    QV_ULONG *exceptionNumber, const CDB_FAILURE_INFORMATION *failure);

/* Process-wide switches. */
QUORVANE_API QV_BOOLEAN QUORVANE_CALL Quorvane_GetEjectAfterFail(void);
QUORVANE_API QV_BOOLEAN QUORVANE_CALL Quorvane_SetEjectAfterFail(QV_BOOLEAN value);
QUORVANE_API QV_BOOLEAN QUORVANE_CALL Quorvane_GetFastReadTOC(void);
QUORVANE_API QV_BOOLEAN QUORVANE_CALL Quorvane_SetFastReadTOC(QV_BOOLEAN value);
QUORVANE_API QV_BOOLEAN QUORVANE_CALL Quorvane_GetFastReadTOCLastTrack(void);
QUORVANE_API QV_BOOLEAN QUORVANE_CALL Quorvane_SetFastReadTOCLastTrack(QV_BOOLEAN value);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_GetBufferUnderrunTimeOutInMs(void);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_SetBufferUnderrunTimeOutInMs(QV_ULONG value);
QUORVANE_API QV_BOOLEAN QUORVANE_CALL Quorvane_GetPadding(void);
QUORVANE_API QV_BOOLEAN QUORVANE_CALL Quorvane_SetPadding(QV_BOOLEAN value);
QUORVANE_API QV_BOOLEAN QUORVANE_CALL Quorvane_GetCompatibleClose(void);
QUORVANE_API QV_BOOLEAN QUORVANE_CALL Quorvane_SetCompatibleClose(QV_BOOLEAN value);
QUORVANE_API QV_BOOLEAN QUORVANE_CALL Quorvane_GetTestUnitReadyBeforeRead(void);
QUORVANE_API QV_BOOLEAN QUORVANE_CALL Quorvane_SetTestUnitReadyBeforeRead(QV_BOOLEAN value);
QUORVANE_API QV_BOOLEAN QUORVANE_CALL Quorvane_GetSkipNameCheck(void);
QUORVANE_API QV_BOOLEAN QUORVANE_CALL Quorvane_SetSkipNameCheck(QV_BOOLEAN value);

/* The debug log settings in force (read at start-up). */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_GetDebugFacility(void);
QUORVANE_API const char *QUORVANE_CALL Quorvane_GetDebugFileName(void);

/* ASPI-style discovery. The ASPI entry points are handed out as opaque
 * function pointers: GetASPI32SupportInfo() and SendASPI32Command(srb). */
typedef QV_ULONG(QUORVANE_CALL *PQUORVANE_GET_ASPI32_SUPPORT_INFO)(void);
typedef QV_ULONG(QUORVANE_CALL *PQUORVANE_SEND_ASPI32_COMMAND)(void *srb);

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_StartUpASPI(
    PQUORVANE_GET_ASPI32_SUPPORT_INFO *getSupportInfo,
    PQUORVANE_SEND_ASPI32_COMMAND *sendCommand, QV_HANDLE *module);

/* Frees a module handed out by Quorvane_StartUpASPI. */
QUORVANE_API void QUORVANE_CALL Quorvane_ReleaseASPI(QV_HANDLE module);

/* Reports every device of deviceType (0xFF: any) through callback reason
 * CN_DEVICE_FOUND and returns how many were reported. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_FindDevice(QV_UCHAR deviceType, QV_BOOLEAN stopAtFirst,
                                                        PQUORVANE_CALLBACK callback, void *context);

/* name receives at most 260 bytes. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_GetDeviceNameByDeviceAddress(
    QV_UCHAR portId, QV_UCHAR pathId, QV_UCHAR targetId, QV_UCHAR lun, char *name);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_GetDeviceTimeOutByDeviceAddress(
    QV_UCHAR portId, QV_UCHAR pathId, QV_UCHAR targetId, QV_UCHAR lun, QV_ULONG *timeOutInSeconds);
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_SetDeviceTimeOutByDeviceAddress(
    QV_UCHAR portId, QV_UCHAR pathId, QV_UCHAR targetId, QV_UCHAR lun, QV_ULONG timeOutInSeconds);

/* Reads the primary volume identifier (32 bytes, not terminated) of the
 * ISO9660 volume on a device or in an image file. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_GetVolumeIDs(const char *devicePath, char *volumeId);

/* Passes its arguments to the ASPI library's own "GetId" export. */
QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_GetId(void *argument1, void *argument2, void *argument3);

#endif /* QUORVANE_QV_CORE_H */
