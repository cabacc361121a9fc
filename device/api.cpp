// The C entry points of the drive's operations: each runs its engine method under
// the status record, so no exception leaves the engine.
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "core/log.h"
#include "core/status.h"
#include "device/api_checks.h"
#include "device/drive.h"

CQuorvane_CdvdDrive& QuorvaneI_DriveOf(const char* entryPoint, QV_HANDLE handle) {
  if (handle == nullptr)
    QuorvaneI_Throw(entryPoint, EN_INVALID_PARAMETER, 0, "Quorvane:%s(): Handle is NULL", entryPoint);
  return *static_cast<CQuorvane_CdvdDrive*>(handle);
}

void QuorvaneI_Require(const char* entryPoint, const void* pointer, const char* name) {
  if (pointer == nullptr)
    QuorvaneI_Throw(entryPoint, EN_INVALID_PARAMETER, 0, "Quorvane:%s(): Parameter '%s' is NULL", entryPoint, name);
}

namespace {

template <class Body>
QV_ULONG OnDrive(const char* entryPoint, QV_HANDLE handle, char* text, QV_ULONG textSize, QV_ULONG* systemError,
                   CDB_FAILURE_INFORMATION* failure, Body&& body) {
  return QuorvaneI_Call(entryPoint, text, textSize, systemError, failure,
                        [&] { body(QuorvaneI_DriveOf(entryPoint, handle)); });
}

// An entry point that reads the disc: a disc still spinning up is waited
// for, and the reading done once more.
template <class Body>
QV_ULONG OnDisc(const char* entryPoint, QV_HANDLE handle, char* text, QV_ULONG textSize, QV_ULONG* systemError,
                CDB_FAILURE_INFORMATION* failure, Body&& body) {
  return OnDrive(entryPoint, handle, text, textSize, systemError, failure, [&](CQuorvane_CdvdDrive& g) {
    try {
      return body(g);
    } catch (CQuorvane_Exception* e) {
      if (!QuorvaneI_IsBecomingReady(e)) throw;
      QuorvaneI_Caught owned(e);
    }
    g.WaitForSpinUp();
    body(g);
  });
}

}  // namespace

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_Destroy(QV_HANDLE* handle) {
  QuorvaneI_Log("\nQuorvane:Quorvane_CdvdBurnerGrabber_Destroy(): ENTERed\n");
  if (handle == nullptr || *handle == nullptr) {
    QuorvaneI_Log("\nQuorvane:Quorvane_CdvdBurnerGrabber_Destroy(): EXITing with failure, handle is NULL\n");
    return EN_INVALID_PARAMETER;
  }
  delete static_cast<CQuorvane_CdvdDrive*>(*handle);
  *handle = nullptr;
  QuorvaneI_Log("\nQuorvane:Quorvane_CdvdBurnerGrabber_Destroy(): EXITing with success\n");
  return EN_SUCCESS;
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_GetDeviceInformation(
    QV_HANDLE handle, char* text, QV_ULONG textSize, QV_ULONG* systemError, CDB_FAILURE_INFORMATION* failure,
    char* vendor, char* product, char* revision, QV_ULONG* bufferSize) {
  constexpr const char* kEntry = "Quorvane_CdvdBurnerGrabber_GetDeviceInformation";
  return OnDrive(kEntry, handle, text, textSize, systemError, failure,
                   [&](CQuorvane_CdvdDrive& g) { g.GetDeviceInformation(vendor, product, revision, bufferSize); });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_GetSupportedMediaFormats(
    QV_HANDLE handle, char* text, QV_ULONG textSize, QV_ULONG* systemError, CDB_FAILURE_INFORMATION* failure,
    QV_BOOLEAN* readCDR, QV_BOOLEAN* readCDRW, QV_BOOLEAN* readDVDROM, QV_BOOLEAN* readDVDR, QV_BOOLEAN* readDVDRAM,
    QV_BOOLEAN* testWrite, QV_BOOLEAN* writeCDR, QV_BOOLEAN* writeCDRW, QV_BOOLEAN* writeDVDR,
    QV_BOOLEAN* writeDVDRAM) {
  constexpr const char* kEntry = "Quorvane_CdvdBurnerGrabber_GetSupportedMediaFormats";
  return OnDrive(kEntry, handle, text, textSize, systemError, failure, [&](CQuorvane_CdvdDrive& g) {
    QV_BOOLEAN* outs[10] = {readCDR,  readCDRW,  readDVDROM, readDVDR,  readDVDRAM,
                            testWrite, writeCDR, writeCDRW,  writeDVDR, writeDVDRAM};
    uint8_t flags[10];
    g.GetSupportedMediaFormats(flags);
    for (int i = 0; i < 10; ++i)
      if (outs[i]) *outs[i] = flags[i];
  });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_GetSupportedMediaFormatsEx(
    QV_HANDLE handle, char* text, QV_ULONG textSize, QV_ULONG* systemError, CDB_FAILURE_INFORMATION* failure,
    QV_BOOLEAN* readDVDPlusRW, QV_BOOLEAN* readDVDPlusR, QV_BOOLEAN* writeDVDPlusRW, QV_BOOLEAN* writeDVDPlusR) {
  constexpr const char* kEntry = "Quorvane_CdvdBurnerGrabber_GetSupportedMediaFormatsEx";
  return OnDrive(kEntry, handle, text, textSize, systemError, failure, [&](CQuorvane_CdvdDrive& g) {
    uint8_t dualLayerRead = 0, dualLayerWrite = 0;
    g.GetSupportedMediaFormatsEx(readDVDPlusRW, readDVDPlusR, &dualLayerRead, writeDVDPlusRW, writeDVDPlusR,
                                 &dualLayerWrite);
  });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_GetSupportedMediaFormatsExEx(
    QV_HANDLE handle, char* text, QV_ULONG textSize, QV_ULONG* systemError, CDB_FAILURE_INFORMATION* failure,
    QV_BOOLEAN* readDVDPlusRW, QV_BOOLEAN* readDVDPlusR, QV_BOOLEAN* readDVDPlusRDL, QV_BOOLEAN* writeDVDPlusRW,
    QV_BOOLEAN* writeDVDPlusR, QV_BOOLEAN* writeDVDPlusRDL) {
  constexpr const char* kEntry = "Quorvane_CdvdBurnerGrabber_GetSupportedMediaFormatsExEx";
  return OnDrive(kEntry, handle, text, textSize, systemError, failure, [&](CQuorvane_CdvdDrive& g) {
    g.GetSupportedMediaFormatsEx(readDVDPlusRW, readDVDPlusR, readDVDPlusRDL, writeDVDPlusRW, writeDVDPlusR,
                                 writeDVDPlusRDL);
  });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_ProbeSupportedWriteModes(
    QV_HANDLE handle, char* text, QV_ULONG textSize, QV_ULONG* systemError, CDB_FAILURE_INFORMATION* failure,
    QV_BOOLEAN* tao, QV_BOOLEAN* sao, QV_BOOLEAN* daoRawPQ, QV_BOOLEAN* daoRawRawPW) {
  constexpr const char* kEntry = "Quorvane_CdvdBurnerGrabber_ProbeSupportedWriteModes";
  return OnDrive(kEntry, handle, text, textSize, systemError, failure, [&](CQuorvane_CdvdDrive& g) {
    g.ProbeSupportedWriteModes(tao, sao, daoRawPQ, daoRawRawPW);
  });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_ProbeSupportedReadModes(
    QV_HANDLE handle, char* text, QV_ULONG textSize, QV_ULONG* systemError, CDB_FAILURE_INFORMATION* failure,
    QV_BOOLEAN* cooked, QV_BOOLEAN* raw, QV_BOOLEAN* rawPQ, QV_BOOLEAN* rawRawPW, QV_BOOLEAN* pq, QV_BOOLEAN* rawPW) {
  constexpr const char* kEntry = "Quorvane_CdvdBurnerGrabber_ProbeSupportedReadModes";
  return OnDisc(kEntry, handle, text, textSize, systemError, failure, [&](CQuorvane_CdvdDrive& g) {
    g.ProbeSupportedReadModes(cooked, raw, rawPQ, rawRawPW, pq, rawPW);
  });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_Load(QV_HANDLE handle, char* text, QV_ULONG textSize,
                                                                      QV_ULONG* systemError,
                                                                      CDB_FAILURE_INFORMATION* failure) {
  return OnDrive("Quorvane_CdvdBurnerGrabber_Load", handle, text, textSize, systemError, failure,
                   [&](CQuorvane_CdvdDrive& g) { g.Load(); });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_LoadEx(QV_HANDLE handle, char* text,
                                                                        QV_ULONG textSize, QV_ULONG* systemError,
                                                                        CDB_FAILURE_INFORMATION* failure,
                                                                        QV_BOOLEAN waitForMedia) {
  return OnDrive("Quorvane_CdvdBurnerGrabber_LoadEx", handle, text, textSize, systemError, failure,
                   [&](CQuorvane_CdvdDrive& g) { g.LoadEx(waitForMedia != 0); });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_Eject(QV_HANDLE handle, char* text, QV_ULONG textSize,
                                                                       QV_ULONG* systemError,
                                                                       CDB_FAILURE_INFORMATION* failure) {
  return OnDrive("Quorvane_CdvdBurnerGrabber_Eject", handle, text, textSize, systemError, failure,
                   [&](CQuorvane_CdvdDrive& g) { g.Eject(); });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_TestUnitReady(QV_HANDLE handle, char* text,
                                                                               QV_ULONG textSize,
                                                                               QV_ULONG* systemError,
                                                                               CDB_FAILURE_INFORMATION* failure) {
  return OnDrive("Quorvane_CdvdBurnerGrabber_TestUnitReady", handle, text, textSize, systemError, failure,
                   [&](CQuorvane_CdvdDrive& g) { g.TestUnitReady(10, true); });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_TestUnitReadyEx(QV_HANDLE handle, char* text,
                                                                                 QV_ULONG textSize,
                                                                                 QV_ULONG* systemError,
                                                                                 CDB_FAILURE_INFORMATION* failure,
                                                                                 QV_LONG seconds) {
  return OnDrive("Quorvane_CdvdBurnerGrabber_TestUnitReadyEx", handle, text, textSize, systemError, failure,
                   [&](CQuorvane_CdvdDrive& g) { g.TestUnitReady(seconds, true); });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_TestUnitReadyExEx(
    QV_HANDLE handle, char* text, QV_ULONG textSize, QV_ULONG* systemError, CDB_FAILURE_INFORMATION* failure,
    QV_LONG seconds, QV_BOOLEAN fastExit) {
  return OnDrive("Quorvane_CdvdBurnerGrabber_TestUnitReadyExEx", handle, text, textSize, systemError, failure,
                   [&](CQuorvane_CdvdDrive& g) { g.TestUnitReady(seconds, fastExit != 0); });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_Lock(QV_HANDLE handle, char* text, QV_ULONG textSize,
                                                                      QV_ULONG* systemError,
                                                                      CDB_FAILURE_INFORMATION* failure) {
  return OnDrive("Quorvane_CdvdBurnerGrabber_Lock", handle, text, textSize, systemError, failure,
                   [&](CQuorvane_CdvdDrive& g) { g.Lock(); });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_Release(QV_HANDLE handle, char* text,
                                                                         QV_ULONG textSize, QV_ULONG* systemError,
                                                                         CDB_FAILURE_INFORMATION* failure) {
  return OnDrive("Quorvane_CdvdBurnerGrabber_Release", handle, text, textSize, systemError, failure,
                   [&](CQuorvane_CdvdDrive& g) { g.Release(); });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_Cancel(QV_HANDLE handle) {
  if (handle == nullptr) {
    QuorvaneI_Log("\nQuorvane:Quorvane_CdvdBurnerGrabber_Cancel(): EXITing with failure, handle is NULL\n");
    return EN_INVALID_PARAMETER;
  }
  static_cast<CQuorvane_CdvdDrive*>(handle)->Cancel();
  return EN_SUCCESS;
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_ExecuteCDB(
    QV_HANDLE handle, char* text, QV_ULONG textSize, QV_ULONG* systemError, CDB_FAILURE_INFORMATION* failure,
    const QV_UCHAR* cdb, QV_UCHAR cdbLength, void* buffer, QV_ULONG bufferSize, QV_UCHAR direction) {
  return OnDrive("Quorvane_CdvdBurnerGrabber_ExecuteCDB", handle, text, textSize, systemError, failure,
                   [&](CQuorvane_CdvdDrive& g) { g.ExecuteCDB(cdb, cdbLength, buffer, bufferSize, direction); });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_GetInsertedDiscType(QV_HANDLE handle) {
  constexpr const char* kEntry = "Quorvane:Quorvane_CdvdBurnerGrabber_GetInsertedDiscType";
  if (handle == nullptr) {
    QuorvaneI_Log("\n%s(): EXITing with failure, handle is NULL\n", kEntry);
    return DISC_TYPE_UNKNOWN;
  }
  uint32_t type = DISC_TYPE_UNKNOWN;
  try {
    type = static_cast<CQuorvane_CdvdDrive*>(handle)->GetInsertedDiscType();
  } catch (CQuorvane_Exception* e) {
    // No status record to carry a failure: the type stays unknown.
    QuorvaneI_Caught owned(e);
    QuorvaneI_LogCaught(kEntry, e);
  } catch (...) {
    QuorvaneI_Log("\n%s(): WARNING! Unexpected failure\n", kEntry);
  }
  if (type != DISC_TYPE_UNKNOWN) return type;

  // Drives without profiles: a disc that answers is taken for a CD.
  QuorvaneI_Log("\n%s(): Current profile is unknown ( %d ), re-checking\n", kEntry, static_cast<int>(type));
  char text[2048] = {};
  QV_ULONG systemError = 0;
  CDB_FAILURE_INFORMATION failure{};
  QV_ULONG status = Quorvane_CdvdBurnerGrabber_TestUnitReady(handle, text, sizeof text, &systemError, &failure);
  if (status != EN_SUCCESS) {
    QuorvaneI_Log("\n%s(): EXITing with failure, no disc in drive ( %d )\n", kEntry, static_cast<int>(status));
    return DISC_TYPE_UNKNOWN;
  }
  QUORVANE_DISC_INFORMATION info{};
  status = Quorvane_CdvdBurnerGrabber_GetDiscInformation(handle, text, sizeof text, &systemError, &failure, &info);
  if (status != EN_SUCCESS) {
    QuorvaneI_Log("\n%s(): EXITing with failure, GetDiscInformation() failed ( %d ), '%s'\n", kEntry,
                  static_cast<int>(status), text);
    return DISC_TYPE_UNKNOWN;
  }
  uint32_t guess = info.m__UCHAR__DiscStatus == 2 ? DISC_TYPE_CDROM : DISC_TYPE_CDR;
  if (info.m__UCHAR__IsErasable) guess = DISC_TYPE_CDRW;
  QuorvaneI_Log("\n%s(): EXITing with success, disc type %d\n", kEntry, static_cast<int>(guess));
  return guess;
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_GetDiscInformation(
    QV_HANDLE handle, char* text, QV_ULONG textSize, QV_ULONG* systemError, CDB_FAILURE_INFORMATION* failure,
    QUORVANE_DISC_INFORMATION* discInformation) {
  constexpr const char* kEntry = "Quorvane_CdvdBurnerGrabber_GetDiscInformation";
  return OnDisc(kEntry, handle, text, textSize, systemError, failure, [&](CQuorvane_CdvdDrive& g) {
    QuorvaneI_Require(kEntry, discInformation, "discInformation");
    g.GetDiscInformation(discInformation);
  });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_GetTrackInformation(
    QV_HANDLE handle, char* text, QV_ULONG textSize, QV_ULONG* systemError, CDB_FAILURE_INFORMATION* failure,
    QV_UCHAR trackNumber, QUORVANE_TRACK_INFORMATION* trackInformation) {
  constexpr const char* kEntry = "Quorvane_CdvdBurnerGrabber_GetTrackInformation";
  return OnDrive(kEntry, handle, text, textSize, systemError, failure, [&](CQuorvane_CdvdDrive& g) {
    QuorvaneI_Require(kEntry, trackInformation, "trackInformation");
    QuorvaneI_Log("\nQuorvane:%s(): ENTERed for track number 0x%02X\n", kEntry, trackNumber);
    g.GetTrackInformation(trackNumber, trackInformation);
  });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_GetTOCInformation(
    QV_HANDLE handle, char* text, QV_ULONG textSize, QV_ULONG* systemError, CDB_FAILURE_INFORMATION* failure,
    QUORVANE_TOC_INFORMATION* tocInformation) {
  constexpr const char* kEntry = "Quorvane_CdvdBurnerGrabber_GetTOCInformation";
  return OnDisc(kEntry, handle, text, textSize, systemError, failure, [&](CQuorvane_CdvdDrive& g) {
    QuorvaneI_Require(kEntry, tocInformation, "tocInformation");
    g.GetTOCInformation(tocInformation);
  });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_GetLastTrack(QV_HANDLE handle, char* text,
                                                                              QV_ULONG textSize,
                                                                              QV_ULONG* systemError,
                                                                              CDB_FAILURE_INFORMATION* failure,
                                                                              QV_UCHAR* lastTrack) {
  constexpr const char* kEntry = "Quorvane_CdvdBurnerGrabber_GetLastTrack";
  return OnDrive(kEntry, handle, text, textSize, systemError, failure, [&](CQuorvane_CdvdDrive& g) {
    QuorvaneI_Require(kEntry, lastTrack, "lastTrack");
    *lastTrack = 0;
    try {
      g.TestUnitReady(2, true);
    } catch (CQuorvane_Exception*) {
      QuorvaneI_Log("\nQuorvane:%s(): Quorvane_CdvdBurnerGrabber_TestUnitReadyEx() failed\n", kEntry);
      throw;
    }
    const QV_ULONG type = Quorvane_CdvdBurnerGrabber_GetInsertedDiscType(handle);
    if (type < DISC_TYPE_DVDRAM || type > DISC_TYPE_DVDPLUSRW) {
      QuorvaneI_Log("\nQuorvane:%s(): Using CD-R, CD-RW, DVD+R ( DL ) or DVD-R ( %d ) path\n", kEntry,
                    static_cast<int>(type));
      QUORVANE_DISC_INFORMATION info{};
      try {
        g.GetDiscInformation(&info);
      } catch (CQuorvane_Exception*) {
        QuorvaneI_Log("\nQuorvane:%s(): Quorvane_CdvdBurnerGrabber_GetDiscInformation() failed\n", kEntry);
        throw;
      }
      const uint8_t reported = info.m__UCHAR__LastTrackInLastSession;
      if (info.m__UCHAR__DiscStatus == 2) {
        QuorvaneI_Log("\nQuorvane:%s(): DISC_STATUS_COMPLETE ( 0x%02X ) path, %d track(s) reported\n", kEntry,
                      info.m__UCHAR__DiscStatus, reported);
        *lastTrack = reported;
      } else {
        // The last track of a disc still written to is the open one.
        QuorvaneI_Log("\nQuorvane:%s(): DISC_STATUS_INCOMPLETE ( 0x%02X ) path, %d track(s) reported\n", kEntry,
                      info.m__UCHAR__DiscStatus, reported);
        *lastTrack = reported > 0 ? static_cast<QV_UCHAR>(reported - 1) : 0;
      }
    } else {
      QuorvaneI_Log("\nQuorvane:%s(): Using DVD-RW, DVD+RW or DVD-RAM ( %d ) path\n", kEntry, static_cast<int>(type));
      uint8_t block[2048];
      try {
        g.ReadBlockSafe(16, block);
        if (std::memcmp(block + 1, "CD001", 5) == 0) {
          QuorvaneI_Log("\nQuorvane:%s(): Good PVD signature\n", kEntry);
          *lastTrack = 1;
        } else {
          QuorvaneI_Log("\nQuorvane:%s(): No PVD signature\n", kEntry);
        }
      } catch (CQuorvane_Exception* e) {
        QuorvaneI_Caught owned(e);
        QuorvaneI_Log("\nQuorvane:%s(): WARNING! Read10() failed\n", kEntry);
        QuorvaneI_LogCaught(kEntry, e);
      }
    }
  });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_ReadATIP(QV_HANDLE handle, char* text,
                                                                          QV_ULONG textSize, QV_ULONG* systemError,
                                                                          CDB_FAILURE_INFORMATION* failure,
                                                                          void* buffer, QV_ULONG size) {
  constexpr const char* kEntry = "Quorvane_CdvdBurnerGrabber_ReadATIP";
  return OnDisc(kEntry, handle, text, textSize, systemError, failure, [&](CQuorvane_CdvdDrive& g) {
    QuorvaneI_Require(kEntry, buffer, "buffer");
    g.ReadATIPSafe(buffer, size);
  });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_ReadCDText(QV_HANDLE handle, char* text,
                                                                            QV_ULONG textSize, QV_ULONG* systemError,
                                                                            CDB_FAILURE_INFORMATION* failure,
                                                                            void* buffer, QV_ULONG size) {
  constexpr const char* kEntry = "Quorvane_CdvdBurnerGrabber_ReadCDText";
  return OnDisc(kEntry, handle, text, textSize, systemError, failure, [&](CQuorvane_CdvdDrive& g) {
    QuorvaneI_Require(kEntry, buffer, "buffer");
    // The allocation length of READ TOC has 16 bits.
    const QV_ULONG length = size > 0xFFFF ? 0xFFFF : size;
    std::memset(buffer, 0, length);
    g.ReadTOC(buffer, length, false, 5, 0);
  });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_GetSpeeds(
    QV_HANDLE handle, char* text, QV_ULONG textSize, QV_ULONG* systemError, CDB_FAILURE_INFORMATION* failure,
    QV_ULONG* currentReadSpeed, QV_ULONG* maximumReadSpeed, QV_ULONG* currentWriteSpeed,
    QV_ULONG* maximumWriteSpeed) {
  return OnDrive("Quorvane_CdvdBurnerGrabber_GetSpeeds", handle, text, textSize, systemError, failure,
                   [&](CQuorvane_CdvdDrive& g) {
                     g.GetCdvdSpeeds(currentReadSpeed, maximumReadSpeed, currentWriteSpeed, maximumWriteSpeed);
                   });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_SetSpeeds(QV_HANDLE handle, char* text,
                                                                           QV_ULONG textSize, QV_ULONG* systemError,
                                                                           CDB_FAILURE_INFORMATION* failure,
                                                                           QV_ULONG readSpeed, QV_ULONG writeSpeed) {
  return OnDrive("Quorvane_CdvdBurnerGrabber_SetSpeeds", handle, text, textSize, systemError, failure,
                   [&](CQuorvane_CdvdDrive& g) { g.SetCdvdSpeeds(readSpeed, writeSpeed); });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_SetReadSpeed(QV_HANDLE handle, char* text,
                                                                              QV_ULONG textSize,
                                                                              QV_ULONG* systemError,
                                                                              CDB_FAILURE_INFORMATION* failure,
                                                                              QV_ULONG readSpeed) {
  return OnDrive("Quorvane_CdvdBurnerGrabber_SetReadSpeed", handle, text, textSize, systemError, failure,
                   [&](CQuorvane_CdvdDrive& g) { g.SetCdvdReadSpeed(readSpeed); });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_GetBUP(QV_HANDLE handle, char* text, QV_ULONG textSize,
                                                                        QV_ULONG* systemError,
                                                                        CDB_FAILURE_INFORMATION* failure,
                                                                        QV_BOOLEAN* enabled, QV_BOOLEAN* supported) {
  return OnDrive("Quorvane_CdvdBurnerGrabber_GetBUP", handle, text, textSize, systemError, failure,
                   [&](CQuorvane_CdvdDrive& g) { g.GetBUP(enabled, supported); });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_SetBUP(QV_HANDLE handle, char* text, QV_ULONG textSize,
                                                                        QV_ULONG* systemError,
                                                                        CDB_FAILURE_INFORMATION* failure,
                                                                        QV_BOOLEAN enable) {
  return OnDrive("Quorvane_CdvdBurnerGrabber_SetBUP", handle, text, textSize, systemError, failure,
                   [&](CQuorvane_CdvdDrive& g) { g.SetBUP(enable != 0); });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_SendOPC(QV_HANDLE handle, char* text,
                                                                         QV_ULONG textSize, QV_ULONG* systemError,
                                                                         CDB_FAILURE_INFORMATION* failure) {
  return OnDrive("Quorvane_CdvdBurnerGrabber_SendOPC", handle, text, textSize, systemError, failure,
                   [&](CQuorvane_CdvdDrive& g) { g.SendOPC(); });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_GetMediaTrayStatus(
    QV_HANDLE handle, char* text, QV_ULONG textSize, QV_ULONG* systemError, CDB_FAILURE_INFORMATION* failure,
    QV_BOOLEAN* mediumPresent, QV_BOOLEAN* doorOrTrayOpen) {
  return OnDrive("Quorvane_CdvdBurnerGrabber_GetMediaTrayStatus", handle, text, textSize, systemError, failure,
                   [&](CQuorvane_CdvdDrive& g) { g.GetMediaTrayStatus(mediumPresent, doorOrTrayOpen); });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_GetDVDProtectionSystem(
    QV_HANDLE handle, char* text, QV_ULONG textSize, QV_ULONG* systemError, CDB_FAILURE_INFORMATION* failure,
    QV_UCHAR* protectionSystemType) {
  return OnDisc("Quorvane_CdvdBurnerGrabber_GetDVDProtectionSystem", handle, text, textSize, systemError, failure,
                [&](CQuorvane_CdvdDrive& g) { g.GetDVDProtectionSystem(protectionSystemType); });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_GetDVDRegionMask(QV_HANDLE handle, char* text,
                                                                                  QV_ULONG textSize,
                                                                                  QV_ULONG* systemError,
                                                                                  CDB_FAILURE_INFORMATION* failure,
                                                                                  QV_UCHAR* regionMask) {
  return OnDisc("Quorvane_CdvdBurnerGrabber_GetDVDRegionMask", handle, text, textSize, systemError, failure,
                [&](CQuorvane_CdvdDrive& g) { g.GetDVDRegionMask(regionMask); });
}

QUORVANE_API QV_ULONG QUORVANE_CALL Quorvane_CdvdBurnerGrabber_GetRPC(
    QV_HANDLE handle, char* text, QV_ULONG textSize, QV_ULONG* systemError, CDB_FAILURE_INFORMATION* failure,
    QV_UCHAR* typeCode, QV_UCHAR* vendorResetsAvailable, QV_UCHAR* userChangesAvailable, QV_UCHAR* regionMask,
    QV_UCHAR* rpcScheme) {
  return OnDrive("Quorvane_CdvdBurnerGrabber_GetRPC", handle, text, textSize, systemError, failure,
                   [&](CQuorvane_CdvdDrive& g) {
                     g.GetRPC(typeCode, vendorResetsAvailable, userChangesAvailable, regionMask, rpcScheme);
                   });
}
