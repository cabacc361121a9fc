// CQuorvane_CdvdDrive: one drive as the engine knows it. Creating it
// identifies the drive and reads its capabilities; its operations read disc
// and track information, control the drive and set its write parameters.
// The burner-grabber (record/burner_grabber.h) adds recording on top. Every
// public operation runs under the object lock, which is recursive because
// operations call one another; Cancel alone stays outside it.
#pragma once
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "device/drive_answer.h"
#include "device/drive_quirks.h"
#include "quorvane.h"
#include "scsi/device_writer.h"

// Mode page 05h of one recording, by name.
struct QuorvaneI_WriteParameters {
  uint8_t writeType = 1;       // 0 packet, 1 track-at-once, 2 session-at-once, 3 raw
  uint8_t dataBlockType = 8;   // 0 audio, 8 Mode 1, 10 Mode 2 Form 1, 13 Mode 2 Form 2, ...
  uint8_t trackMode = 4;       // the control nibble: 0 audio, 4 data, 5 incremental data
  bool testWrite = false;
  bool multiSession = false;
  uint8_t sessionFormat = 0;   // 00h CD-DA/CD-ROM, 20h CD-ROM XA
  uint8_t subHeader[4] = {};
  bool linkSizeValid = false;
};

class CQuorvane_CdvdDrive : public CQuorvane_ScsiDeviceCdvdRomWriter {
 public:
  // Takes ownership of the transport: it is deleted with the object, and
  // also when construction fails.
  CQuorvane_CdvdDrive(CQuorvane_ScsiTransport* transport, PQUORVANE_CALLBACK callback, void* context);
  ~CQuorvane_CdvdDrive() override;

  // The command builders keep their names next to the operations below.
  using CQuorvane_ScsiDeviceGeneric::TestUnitReady;
  using CQuorvane_ScsiDeviceCdvdRomReader::ReadTrackInformation;

  // ---- Identity, capabilities, probes, unit commands ----
  // vendor, product and revision receive at most 8, 16 and 4 characters
  // plus a terminator.
  void GetDeviceInformation(char* vendor, char* product, char* revision, uint32_t* bufferSize);
  // Read CD-R, CD-RW, DVD-ROM, DVD-R, DVD-RAM; test write; write CD-R,
  // CD-RW, DVD-R, DVD-RAM.
  void GetSupportedMediaFormats(uint8_t flags[10]);
  void GetSupportedMediaFormatsEx(uint8_t* readPlusRW, uint8_t* readPlusR, uint8_t* readPlusRDL,
                                  uint8_t* writePlusRW, uint8_t* writePlusR, uint8_t* writePlusRDL);
  void ProbeSupportedWriteModes(uint8_t* tao, uint8_t* sao, uint8_t* daoRawPQ, uint8_t* daoRawRawPW);
  void ProbeSupportedReadModes(uint8_t* cooked, uint8_t* raw, uint8_t* rawPQ, uint8_t* rawRawPW, uint8_t* pq,
                               uint8_t* rawPW);
  void Load();
  void LoadEx(bool waitForMedia);
  void Eject();
  void TestUnitReady(int32_t seconds, bool fastExit);
  void Lock();
  void Release();
  // A disc just loaded is unknown to the drive while it spins up: commands
  // that need it answer NOT READY, becoming ready (04h/01h), GET
  // CONFIGURATION reports no current profile, and then one command meets
  // UNIT ATTENTION (medium may have changed). Polls TEST UNIT READY through
  // that; true once the disc is ready, false when the drive settles on
  // another answer (no disc, a disc it cannot read) or stays becoming
  // ready too long, which the caller's own commands then meet. Never throws.
  bool WaitForSpinUp();
  // Recording keeps the tray locked, so that no one pulls the disc in the
  // middle (a tray the application locked stays as it was); Eject unlocks
  // a tray this object locked. Never throws: a drive that cannot lock
  // records all the same.
  void LockTrayForRecording();
  void UnlockTrayAfterRecording();
  void RezeroUnitSafe();
  void Cancel();
  bool IsCancel() const { return m__UCHAR__IsCancel.load() != 0; }
  // One CDB of the caller's, under the object lock.
  void ExecuteCDB(const uint8_t* cdb, uint8_t cdbLength, void* buffer, uint32_t bufferSize, uint8_t direction);

  // ---- Disc and track information ----
  // Never throws; 0 when the profile cannot be read.
  uint32_t GetDiscTypeSafe();
  uint32_t GetInsertedDiscType();
  void GetDiscInformation(QUORVANE_DISC_INFORMATION* record);
  // The answer of READ TRACK INFORMATION for a track (FFh: the last or
  // invisible one) into buffer, corrected per medium; discType 0 asks.
  void ReadTrackInformation(uint8_t trackNumber, void* buffer, uint32_t size, uint32_t discType);
  // Fills the record; a failure leaves it all zero (IsValid 0).
  void GetTrackInformation(uint8_t trackNumber, QUORVANE_TRACK_INFORMATION* record);
  void GetTOCInformation(QUORVANE_TOC_INFORMATION* record);
  void ReadATIPSafe(void* buffer, uint32_t size);
  void ReadDVDPLUSRDLBoundaryInformation(uint32_t* layer0Capacity, uint8_t* boundaryFlag);
  // Reads one 2048-byte block under the object lock.
  void ReadBlockSafe(uint32_t lba, void* buffer2048);
  static int32_t GetNumberOfSystemDescriptors(const void* buffer, int32_t blockCount);

  // ---- Device control ----
  void GetCdvdSpeeds(uint32_t* currentRead, uint32_t* maximumRead, uint32_t* currentWrite, uint32_t* maximumWrite);
  void SetCdvdSpeeds(uint32_t readSpeed, uint32_t writeSpeed);
  void SetCdvdReadSpeed(uint32_t readSpeed);
  void GetBUP(uint8_t* enabled, uint8_t* supported);
  void SetBUP(bool enable);
  void SendOPC();
  void GetMediaTrayStatus(uint8_t* mediumPresent, uint8_t* doorOpen);
  void GetDVDProtectionSystem(uint8_t* type);
  void GetDVDRegionMask(uint8_t* mask);
  void GetRPC(uint8_t* typeCode, uint8_t* vendorResets, uint8_t* userChanges, uint8_t* regionMask,
              uint8_t* rpcScheme);

  // ---- Write parameters (mode page 05h) ----
  void SetWriteParameters(const QuorvaneI_WriteParameters& parameters);
  void SetWriteParameters(uint8_t writeType, uint8_t dataBlockType, uint8_t trackMode, bool testWrite,
                          bool multiSession, uint8_t sessionFormat, uint8_t subHeader0, uint8_t subHeader1,
                          uint8_t subHeader2, uint8_t subHeader3, bool linkSizeValid);
  void RestoreWriteParameters(uint32_t discType);
  void ReSetWriteParameters();

  // ---- State others read ----
  bool IsBufferUnderrunProtection() const { return m__BOOLEAN__IsBUP; }
  uint8_t GetCurrentTrackNumber() const { return m__UCHAR__CurrentTrackNumber; }
  PQUORVANE_CALLBACK GetCallback() const { return m__PQUORVANE_CALLBACK__Callback; }
  void* GetCallbackContext() const { return m__PVOID__CallbackContext; }
  // What this model needs done differently (device/drive_quirks.h).
  QuorvaneI_DriveQuirks Quirks() const;
  // Tells the application's callback, on the calling thread.
  void Notify(uint32_t reason, uint64_t parameter1 = 0, uint64_t parameter2 = 0);

 protected:
  // The construction steps, each as its class of the command chain names it.
  void ConstructGeneric();
  void ConstructReader();
  void ConstructWriter();

  // The answer of the command just sent: the bytes the transport says came.
  CQuorvane_DriveAnswer Answer(const char* method, const char* what, const void* buffer, uint32_t size) const;
  // MODE SENSE(10) of one page into buffer; returns the page (from its
  // page code byte to the end of its declared length).
  CQuorvane_DriveAnswer SensePage(const char* method, uint8_t* buffer, uint32_t size, uint8_t pageCode,
                                  uint8_t pageControl);
  // MODE SELECT(10) of a page: an empty header and the page after it.
  void SelectPage(const CQuorvane_DriveAnswer& page, const uint8_t* pageBytes);
  // Reads page 05h back after a change and logs what it says.
  void LogWriteParameters(const char* method);
  void WriteParametersFromDrive(const char* method, uint32_t discType, bool liteOnCheck);

  void ReadTOCForCD(QUORVANE_TOC_INFORMATION* record);
  void ReadTOCForDVD(QUORVANE_TOC_INFORMATION* record);
  int32_t LookupTrueTrackEndingLBA(int32_t start, int32_t nextStart);
  void ReadTrackInformationForDVDPLUSRWOrDVDRAM(uint8_t* buffer, uint32_t size, uint8_t trackNumber);
  // READ CAPACITY: the last logical block address.
  uint32_t ReadLastLba(const char* method);
  // READ DVD STRUCTURE of the copyright information (format 01h): one
  // byte of the answer, under the object lock, traced as method.
  uint8_t CopyrightByte(const char* method, uint32_t offset);

  void GetCurrentSpeedsForDVD(uint32_t* read, uint32_t* write);
  void GetMaximumSpeedsForDVD(uint32_t* read, uint32_t* write);
  void SetCurrentSpeedsForDVD(uint32_t read, uint32_t write);
  void SetStreamingDescriptor(uint32_t endLba, uint32_t readSize, uint32_t readTime, uint32_t writeSize,
                              uint32_t writeTime);

  // ---- Fields ----
  std::recursive_mutex m__CRITICAL_SECTION__ObjectLock;
  // The last table of contents read, and the transport's medium generation then.
  std::unique_ptr<QUORVANE_TOC_INFORMATION> m__TocCache;
  uint64_t m__TocCacheGeneration = 0;
  std::atomic<uint8_t> m__UCHAR__IsCancel{0};
  PQUORVANE_CALLBACK m__PQUORVANE_CALLBACK__Callback;
  void* m__PVOID__CallbackContext;
  uint8_t m__UCHAR__CurrentTrackNumber = 1;
  bool m__BOOLEAN__IsTrayLocked = false;  // by Lock, or for recording
  bool m__BOOLEAN__IsTrayLockedForRecording = false;
  bool m__BOOLEAN__IsBUP = false;
};

// True for a failure with NOT READY, becoming ready (04h/01h): a disc is
// spinning up.
bool QuorvaneI_IsBecomingReady(const CQuorvane_Exception* e);
