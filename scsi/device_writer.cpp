#include "scsi/device_writer.h"

#include "scsi/cdb.h"

CQuorvane_ScsiDeviceCdvdRomWriter::CQuorvane_ScsiDeviceCdvdRomWriter(CQuorvane_ScsiTransport* transport)
    : CQuorvane_ScsiDeviceCdvdRomReader(transport) {}

CQuorvane_ScsiDeviceCdvdRomWriter::~CQuorvane_ScsiDeviceCdvdRomWriter() = default;

void CQuorvane_ScsiDeviceCdvdRomWriter::SendOPCInformation(void* buffer, uint32_t size, bool doOpc) {
  QuorvaneI_Cdb c(0x54, 10);
  c.b[1] = doOpc ? 0x01 : 0x00;
  c.Put16(7, size);
  QuorvaneI_Send(GetTransport(), c, buffer, size, QV_SCSI_DIRECTION_OUT);
}

void CQuorvane_ScsiDeviceCdvdRomWriter::GetPerformance(uint8_t dataType, uint8_t type, uint32_t lba,
                                                       uint16_t maximumDescriptors, void* buffer, uint32_t size) {
  QuorvaneI_Cdb c(0xAC, 12);
  c.b[1] = dataType & 0x1F;
  c.Put32(2, lba);
  c.Put16(8, maximumDescriptors);
  c.b[10] = type;
  QuorvaneI_Send(GetTransport(), c, buffer, size);
}

void CQuorvane_ScsiDeviceCdvdRomWriter::ReadBufferCapacity(void* buffer, uint32_t size) {
  QuorvaneI_Cdb c(0x5C, 10);
  c.Put16(7, size);
  QuorvaneI_Send(GetTransport(), c, buffer, size);
}

void CQuorvane_ScsiDeviceCdvdRomWriter::FormatUnit(bool formatData, bool completeList, uint8_t formatCode,
                                                   uint16_t interleave, void* buffer, uint32_t size) {
  QuorvaneI_Cdb c(0x04, 6);
  c.b[1] = static_cast<uint8_t>(LunBits() | (formatData ? 0x10 : 0) | (completeList ? 0x08 : 0) | (formatCode & 0x07));
  c.Put16(3, interleave);
  QuorvaneI_Send(GetTransport(), c, buffer, size, QV_SCSI_DIRECTION_OUT);
}

void CQuorvane_ScsiDeviceCdvdRomWriter::Blank(uint8_t blankingType, uint32_t address, bool immediate) {
  QuorvaneI_Cdb c(0xA1, 12);
  c.b[1] = static_cast<uint8_t>((immediate ? 0x10 : 0) | (blankingType & 0x07));
  c.Put32(2, address);
  QuorvaneI_Send(GetTransport(), c);
}

void CQuorvane_ScsiDeviceCdvdRomWriter::SetStreaming(void* buffer, uint32_t size) {
  QuorvaneI_Cdb c(0xB6, 12);
  c.Put16(9, size);
  QuorvaneI_Send(GetTransport(), c, buffer, size, QV_SCSI_DIRECTION_OUT);
}

void CQuorvane_ScsiDeviceCdvdRomWriter::SendCueSheet(void* buffer, uint32_t size) {
  QuorvaneI_Cdb c(0x5D, 10);
  c.Put24(6, size);
  QuorvaneI_Send(GetTransport(), c, buffer, size, QV_SCSI_DIRECTION_OUT);
}

void CQuorvane_ScsiDeviceCdvdRomWriter::ReserveTrack(uint32_t sizeInBlocks) {
  QuorvaneI_Cdb c(0x53, 10);
  c.Put32(5, sizeInBlocks);
  QuorvaneI_Send(GetTransport(), c);
}

void CQuorvane_ScsiDeviceCdvdRomWriter::SendDVDStructure(void* buffer, uint32_t size, uint8_t format) {
  QuorvaneI_Cdb c(0xBF, 12);
  c.b[7] = format;
  c.Put16(8, size);
  QuorvaneI_Send(GetTransport(), c, buffer, size, QV_SCSI_DIRECTION_OUT);
}

void CQuorvane_ScsiDeviceCdvdRomWriter::SynchronizeCache(bool immediate, uint32_t lba, uint16_t blocks) {
  QuorvaneI_Cdb c(0x35, 10);
  c.b[1] = immediate ? 0x02 : 0x00;
  c.Put32(2, lba);
  c.Put16(7, blocks);
  QuorvaneI_Send(GetTransport(), c);
}

void CQuorvane_ScsiDeviceCdvdRomWriter::CloseTrackSession(bool immediate, bool closeFunction2, bool closeFunction1,
                                                          bool closeFunction0, uint16_t trackNumber) {
  QuorvaneI_Cdb c(0x5B, 10);
  c.b[1] = immediate ? 0x01 : 0x00;
  c.b[2] = static_cast<uint8_t>((closeFunction2 ? 0x04 : 0) | (closeFunction1 ? 0x02 : 0) | (closeFunction0 ? 0x01 : 0));
  c.Put16(4, trackNumber);  // a 16-bit field; track numbers fit its low byte
  QuorvaneI_Send(GetTransport(), c);
}

void CQuorvane_ScsiDeviceCdvdRomWriter::Write10(void* buffer, uint32_t blocks, uint32_t lba, uint32_t size) {
  QuorvaneI_Cdb c(0x2A, 10);
  c.Put32(2, lba);
  c.Put16(7, blocks);
  QuorvaneI_Send(GetTransport(), c, buffer, size, QV_SCSI_DIRECTION_OUT);
}
