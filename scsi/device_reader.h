// The CD/DVD reader commands, and WaitForReady.
#pragma once
#include <functional>
#include "scsi/device_generic.h"

// READ CD sub-channel selection (byte 10).
enum : uint8_t { QV_SUBCHANNEL_NONE = 0, QV_SUBCHANNEL_RAW_PW = 1, QV_SUBCHANNEL_Q = 2, QV_SUBCHANNEL_RW = 4 };

class CQuorvane_ScsiDeviceCdvdRomReader : public CQuorvane_ScsiDeviceGeneric {
 public:
  explicit CQuorvane_ScsiDeviceCdvdRomReader(CQuorvane_ScsiTransport* transport);
  ~CQuorvane_ScsiDeviceCdvdRomReader() override;

  virtual void StopPlayScan();
  void ReadTOC(void* buffer, uint32_t size, bool msf, uint8_t format, uint8_t trackOrSession);
  void ReadATIP(void* buffer, uint32_t size);
  void ReportKey(uint32_t lba, uint8_t keyClass, void* buffer, uint32_t size, uint8_t keyFormat, uint8_t agid);
  void ReadDVDStructure(void* buffer, uint32_t size, uint32_t address, uint8_t layer, uint8_t format, uint8_t agid);
  void ReadDiscInformation(void* buffer, uint32_t size);
  // addressType: 0 LBA, 1 track, 2 session.
  void ReadTrackInformation(void* buffer, uint32_t size, uint8_t addressType, uint32_t number);
  // Speeds in KB/s; 0xFFFF asks for the maximum.
  void SetCDSpeed(uint16_t readSpeed, uint16_t writeSpeed);
  void PreventAllowMediumRemoval(bool prevent);
  void ReadCD(uint8_t expectedSectorType, uint32_t lba, uint32_t blocks, uint8_t errorFlags, bool edcEcc,
              bool userData, uint8_t headerCodes, bool sync, uint8_t subChannel, void* buffer, uint32_t size);
  void ReadCDEx(uint8_t expectedSectorType, uint32_t lba, uint32_t blocks, uint8_t errorFlags, bool edcEcc,
                bool userData, uint8_t headerCodes, bool sync, uint8_t subChannel, void* buffer, uint32_t size,
                uint64_t* timing1, uint64_t* timing2);
  // requestType: 0 all features, 1 current ones, 2 the one starting feature.
  void GetConfiguration(uint8_t requestType, uint16_t startingFeature, void* buffer, uint32_t size);
  void GetEventStatusNotification(bool polled, uint8_t classRequest, void* buffer, uint32_t size);

  // The drive buffer in bytes, from the capabilities page.
  uint32_t GetBufferSize() const { return m__ULONG__BufferSize; }

  // Polls the drive until it is ready: READ DISC INFORMATION first when
  // asked, then TEST UNIT READY, each up to attemptCount times with a pause
  // between failures. With fastExit, "medium not present" ends a phase at
  // once. Never throws; true when the last TEST UNIT READY phase ended in
  // success (or in a fast exit). A drive busy with a long operation (BLANK,
  // FORMAT UNIT) tells how far it got in each NOT READY answer; progress,
  // when given, hears it in 65536ths.
  using ReadyProgress = std::function<void(uint32_t fraction)>;
  bool WaitForReady(uint32_t attemptCount, uint32_t pauseMs, bool readDiscInformationFirst, bool fastExit,
                    const ReadyProgress& progress = nullptr);

 protected:
  uint32_t m__ULONG__BufferSize = 0;
  // Read CD-R, CD-RW, DVD-ROM, DVD-R, DVD-RAM; test write; write CD-R,
  // CD-RW, DVD-R, DVD-RAM.
  uint8_t m__UCHAR__IsReadCDR = 0, m__UCHAR__IsReadCDRW = 0, m__UCHAR__IsReadDVDROM = 0, m__UCHAR__IsReadDVDR = 0,
          m__UCHAR__IsReadDVDRAM = 0, m__UCHAR__IsTestWrite = 0, m__UCHAR__IsWriteCDR = 0,
          m__UCHAR__IsWriteCDRW = 0, m__UCHAR__IsWriteDVDR = 0, m__UCHAR__IsWriteDVDRAM = 0;
  // The DVD+ formats: assumed until asked with GET CONFIGURATION.
  uint8_t m__UCHAR__IsReadDVDPlusRW = 1, m__UCHAR__IsReadDVDPlusR = 1, m__UCHAR__IsWriteDVDPlusRW = 1,
          m__UCHAR__IsWriteDVDPlusR = 1;
};
