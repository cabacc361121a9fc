// The recorder commands.
#pragma once
#include "scsi/device_reader.h"

class CQuorvane_ScsiDeviceCdvdRomWriter : public CQuorvane_ScsiDeviceCdvdRomReader {
 public:
  explicit CQuorvane_ScsiDeviceCdvdRomWriter(CQuorvane_ScsiTransport* transport);
  ~CQuorvane_ScsiDeviceCdvdRomWriter() override;

  void SendOPCInformation(void* buffer, uint32_t size, bool doOpc);
  void GetPerformance(uint8_t dataType, uint8_t type, uint32_t lba, uint16_t maximumDescriptors, void* buffer,
                      uint32_t size);
  void ReadBufferCapacity(void* buffer, uint32_t size);
  void FormatUnit(bool formatData, bool completeList, uint8_t formatCode, uint16_t interleave, void* buffer,
                  uint32_t size);
  void Blank(uint8_t blankingType, uint32_t address, bool immediate);
  void SetStreaming(void* buffer, uint32_t size);
  void SendCueSheet(void* buffer, uint32_t size);
  void ReserveTrack(uint32_t sizeInBlocks);
  void SendDVDStructure(void* buffer, uint32_t size, uint8_t format);
  void SynchronizeCache(bool immediate, uint32_t lba, uint16_t blocks);
  // The three flags form the close function: first is bit 2, third bit 0.
  void CloseTrackSession(bool immediate, bool closeFunction2, bool closeFunction1, bool closeFunction0,
                         uint16_t trackNumber);
  void Write10(void* buffer, uint32_t blocks, uint32_t lba, uint32_t size);
};
