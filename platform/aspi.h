// The ASPI for Win32 request blocks (SRBs), laid out as the ASPI library
// expects them, and their command, status and flag values.
#pragma once
#include <cstddef>
#include <cstdint>

namespace qv::aspi {

enum : uint8_t {
  SC_HA_INQUIRY = 0x00,
  SC_GET_DEV_TYPE = 0x01,
  SC_EXEC_SCSI_CMD = 0x02,
  SC_ABORT_SRB = 0x03,
  SC_RESET_DEV = 0x04,
  SC_SET_HA_PARMS = 0x05,
  SC_GET_DISK_INFO = 0x06,
  SC_RESCAN_SCSI_BUS = 0x07,
  SC_GETSET_TIMEOUTS = 0x08,
  SC_GET_SYMBOLIC_NAME = 0x80,
};

enum : uint8_t {
  SS_PENDING = 0x00,
  SS_COMP = 0x01,
  SS_ABORTED = 0x02,
  SS_ABORT_FAIL = 0x03,
  SS_ERR = 0x04,
  SS_INVALID_CMD = 0x80,
  SS_INVALID_HA = 0x81,
  SS_NO_DEVICE = 0x82,
  SS_INVALID_SRB = 0xE0,
  SS_NO_ADAPTERS = 0xE8,
};

enum : uint8_t {
  SRB_POSTING = 0x01,
  SRB_ENABLE_RESIDUAL_COUNT = 0x04,
  SRB_DIR_IN = 0x08,
  SRB_DIR_OUT = 0x10,
  SRB_EVENT_NOTIFY = 0x40,
};

enum : uint8_t {
  HASTAT_OK = 0x00,
  HASTAT_TIMEOUT = 0x09,
  HASTAT_COMMAND_TIMEOUT = 0x0B,
  HASTAT_SEL_TO = 0x11,
  HASTAT_DO_DU = 0x12,
  HASTAT_BUS_FREE = 0x13,
  HASTAT_PHASE_ERR = 0x14,
};

constexpr size_t SENSE_LEN = 14;

#pragma pack(push, 1)
struct SRB_Header {
  uint8_t SRB_Cmd;
  uint8_t SRB_Status;
  uint8_t SRB_HaId;
  uint8_t SRB_Flags;
  uint32_t SRB_Hdr_Rsvd;
};

struct SRB_HAInquiry {
  SRB_Header h;
  uint8_t HA_Count;
  uint8_t HA_SCSI_ID;
  uint8_t HA_ManagerId[16];
  uint8_t HA_Identifier[16];
  uint8_t HA_Unique[16];
  uint16_t HA_Rsvd1;
};

struct SRB_GDEVBlock {
  SRB_Header h;
  uint8_t SRB_Target;
  uint8_t SRB_Lun;
  uint8_t SRB_DeviceType;
  uint8_t SRB_Rsvd1;
};

struct SRB_ExecSCSICmd {
  SRB_Header h;
  uint8_t SRB_Target;
  uint8_t SRB_Lun;
  uint16_t SRB_Rsvd1;
  uint32_t SRB_BufLen;
  uint8_t* SRB_BufPointer;
  uint8_t SRB_SenseLen;
  uint8_t SRB_CDBLen;
  uint8_t SRB_HaStat;
  uint8_t SRB_TargStat;
  void* SRB_PostProc;
  void* SRB_Rsvd2;
  uint8_t SRB_Rsvd3[16];
  uint8_t CDBByte[16];
  uint8_t SenseArea[SENSE_LEN + 2];
};

struct SRB_GetDiskInfo {
  SRB_Header h;
  uint8_t SRB_Target;
  uint8_t SRB_Lun;
  uint8_t SRB_DriveFlags;
  uint8_t SRB_Int13HDriveInfo;
  uint8_t SRB_Heads;
  uint8_t SRB_Sectors;
  uint8_t SRB_Rsvd1[10];
};

struct SRB_RescanPort {
  SRB_Header h;
};

struct SRB_GetSetTimeouts {
  SRB_Header h;
  uint8_t SRB_Target;
  uint8_t SRB_Lun;
  uint32_t SRB_Timeout;  // in half-seconds
};

// Symbolic name query: 270 bytes, the name at byte 10.
struct SRB_GetSymbolicName {
  SRB_Header h;
  uint8_t SRB_Target;
  uint8_t SRB_Lun;
  char SRB_Name[260];
};
#pragma pack(pop)

static_assert(sizeof(SRB_Header) == 8);
static_assert(sizeof(SRB_HAInquiry) == 60);
static_assert(sizeof(SRB_GDEVBlock) == 12);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufPointer) == 16);
static_assert(sizeof(SRB_GetSetTimeouts) == 14);
static_assert(sizeof(SRB_GetSymbolicName) == 270);
static_assert(offsetof(SRB_GetSymbolicName, SRB_Name) == 10);

using GetASPI32SupportInfoFn = uint32_t (*)();
using SendASPI32CommandFn = uint32_t (*)(void* srb);

}  // namespace qv::aspi
