// File sources: everything that is burnt is read through one of these, in
// pieces of any length, front to back, possibly rewound and read again.
// Sources chain one behind another through m__PCQuorvane_File__Next, and a
// read that runs past the end of one continues in the next.
//
// A source is not thread-safe; CQuorvane_FileChain serialises access.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "platform/file.h"
#include "quorvane.h"

class CQuorvane_File {
 public:
  explicit CQuorvane_File(uint64_t sizeInUCHARs);
  virtual ~CQuorvane_File();
  CQuorvane_File(const CQuorvane_File&) = delete;
  CQuorvane_File& operator=(const CQuorvane_File&) = delete;

  // Delivers the next length bytes, continuing into the following sources
  // as needed; returns the source in which the read ended. Reading past the
  // end of the last source throws exception 3.
  CQuorvane_File* Read(uint64_t length, void* buffer);
  // Rewinds this source and the ones behind it until the budget runs out;
  // returns the source to continue with (nullptr when the end was reached).
  virtual CQuorvane_File* SeekToBeginUnsafe(uint32_t* budget);

  uint64_t GetSizeInUCHARs() const { return m__ULONGLONG__SizeInUCHARs; }
  uint64_t GetPositionInUCHARs() const { return m__ULONGLONG__PositionInUCHARs; }
  bool GetIsAudioStuff() const { return m__BOOLEAN__IsAudioStuff != 0; }
  bool GetIsVideoStuff() const { return m__BOOLEAN__IsVideoStuff != 0; }

  CQuorvane_File* m__PCQuorvane_File__Next = nullptr;

 protected:
  // Delivers the next length bytes of this source only, into a buffer that
  // is already zero: bytes a source does not deliver stay zero.
  virtual void RealRead(uint64_t length, uint8_t* buffer) = 0;

  uint8_t m__BOOLEAN__IsAudioStuff = 0;
  uint8_t m__BOOLEAN__IsVideoStuff = 0;
  uint64_t m__ULONGLONG__SizeInUCHARs;
  uint64_t m__ULONGLONG__PositionInUCHARs = 0;
};

// A block of memory, owned by the source.
class CQuorvane_MemoryFile : public CQuorvane_File {
 public:
  CQuorvane_MemoryFile(std::unique_ptr<uint8_t[]> block, uint64_t sizeInUCHARs);
  const uint8_t* GetBlock() const { return m__PUCHAR__Block.get(); }

 protected:
  void RealRead(uint64_t length, uint8_t* buffer) override;

 private:
  std::unique_ptr<uint8_t[]> m__PUCHAR__Block;
};

// Told, once per source, that a disk file is no longer the size it had when
// its source was made (or is gone). Called on the thread that reads.
class CQuorvane_FileChangeListener {
 public:
  virtual void OnFileChanged(const char* fileName) = 0;

 protected:
  ~CQuorvane_FileChangeListener() = default;
};

// A file on disk, read at its own offset (so handles shared with a caller
// never see their position move). The size the source delivers may differ
// from the size on disk: missing bytes come as zeros, extra bytes are never
// read. A file that changes size between sizing and reading keeps the size
// it had: one that grew is read to that size, one that shrank (or went
// away) is completed with zeros. The change is logged and told to the
// listener, so a recording is not spoilt halfway but its owner learns that
// it differs from the disk. The wait-for-data form, made for files still
// being written, waits for the missing bytes instead.
class CQuorvane_DiskFile : public CQuorvane_File {
 public:
  CQuorvane_DiskFile(const char* fileName, uint64_t sizeInUCHARs);
  explicit CQuorvane_DiskFile(const char* fileName);
  CQuorvane_DiskFile(QV_HANDLE handle, uint64_t sizeInUCHARs);
  CQuorvane_DiskFile(QV_HANDLE handle, uint64_t sizeInUCHARs, bool waitForData);
  ~CQuorvane_DiskFile() override;

  CQuorvane_File* SeekToBeginUnsafe(uint32_t* budget) override;
  const std::string& GetFileName() const { return m__STRING__FileName; }
  void SetChangeListener(CQuorvane_FileChangeListener* listener) { m__PListener = listener; }
  // Raises the stream's size to whole units (the added bytes read as
  // zeros); returns how many bytes were added.
  uint64_t PadToWhole(uint64_t unit) {
    const uint64_t padding = (unit - m__ULONGLONG__SizeInUCHARs % unit) % unit;
    m__ULONGLONG__SizeInUCHARs += padding;
    return padding;
  }
  bool GetIsChanged() const { return m__BOOLEAN__Changed != 0; }

 protected:
  // For kinds that open the file themselves: no file is opened here.
  struct Deferred {};
  CQuorvane_DiskFile(Deferred, const char* fileName, uint64_t sizeInUCHARs);

  void RealRead(uint64_t length, uint8_t* buffer) override;
  // Opens m__STRING__FileName for reading; failures throw exception 5 with
  // "<method>(): CreateFile( '<name>' ) failed, status <n>!!!".
  void OpenByName(const char* method);
  // The same for a file the caller sized already (sizeInUCHARs >= 0): the
  // open is the only call, and a change of size is found at its last read.
  // A file that is gone by then counts as changed and reads as zeros.
  void OpenByNameSized(const char* method, int64_t sizeInUCHARs);
  // Reads file bytes [offset, offset + length) into buffer, as far as the
  // file held them when it was sized; bytes it no longer holds are zeros.
  void ReadFileBytes(uint64_t offset, uint64_t length, uint8_t* buffer);
  // At the end of the stream: the file should still have its sized length.
  void CheckUnchangedAtEnd();
  // Logs and tells the listener, once, that the file now holds nowInUCHARs.
  void ReportChanged(uint64_t nowInUCHARs);
  // The end of the stream when the file's last bytes are few: read and
  // checked at once. False when the ordinary read must do it.
  bool ReadSmallEnd(uint64_t offset, uint64_t length, uint8_t* buffer);
  bool EndsStream(uint64_t length) const {
    return m__ULONGLONG__PositionInUCHARs + length >= m__ULONGLONG__SizeInUCHARs;
  }

  qv::plat::File m__File;
  std::string m__STRING__FileName;  // empty for a source over a caller's handle
  // File offset of the stream's first byte (the wave header is skipped).
  uint64_t m__ULONGLONG__DataOffset = 0;
  // The file's length when the source was made.
  uint64_t m__ULONGLONG__DiskSizeInUCHARs = 0;
  uint8_t m__BOOLEAN__WaitForData = 0;
  uint8_t m__BOOLEAN__Seekable = 1;
  uint8_t m__BOOLEAN__Changed = 0;
  uint8_t m__BOOLEAN__Gone = 0;  // no file to read: the stream is zeros
  CQuorvane_FileChangeListener* m__PListener = nullptr;

 private:
  void AdoptHandle(QV_HANDLE handle);
};

// A disk file that holds no handle between reads: it opens on the first
// read and closes once its last byte has been delivered, so a tree of many
// thousand files keeps at most a few handles open.
class CQuorvane_UnLockedDiskFile : public CQuorvane_DiskFile {
 public:
  CQuorvane_UnLockedDiskFile(const char* fileName, uint64_t sizeInUCHARs);
  CQuorvane_File* SeekToBeginUnsafe(uint32_t* budget) override;
  bool IsHoldingHandle() const { return m__File.IsOpen(); }

 protected:
  void RealRead(uint64_t length, uint8_t* buffer) override;

 private:
  uint64_t m__ULONGLONG__ReadSinceOpenInUCHARs = 0;
};

// CD audio (2352-byte frames of 16-bit stereo PCM at 44100 Hz).
inline constexpr uint32_t kQuorvaneWaveHeaderSize = 44;
// An audio track lasts at least four seconds: 300 frames of 2352 bytes.
inline constexpr uint64_t kQuorvaneMinimumAudioSize = 705600;

// A wave file with the 44-byte header of CD audio; the stream is what
// follows the header, to the end of the file.
class CQuorvane_WaveDiskFile : public CQuorvane_DiskFile {
 public:
  explicit CQuorvane_WaveDiskFile(const char* fileName);
};

// An audio file decoded by the compressed audio library (or a raw CD audio
// image named *.bin, read as it is), at least four seconds long: a shorter
// stream is followed by silence.
class CQuorvane_SonvexFile : public CQuorvane_DiskFile {
 public:
  explicit CQuorvane_SonvexFile(const char* fileName);
  ~CQuorvane_SonvexFile() override;
  CQuorvane_File* SeekToBeginUnsafe(uint32_t* budget) override;
  // Bytes the decoder delivers before the silence.
  uint64_t GetStreamSizeInUCHARs() const { return m__ULONGLONG__StreamSizeInUCHARs; }

 protected:
  void RealRead(uint64_t length, uint8_t* buffer) override;

 private:
  PSONVEX_COMPRESSED_FILE_READER_OBJECT m__PSONVEX_COMPRESSED_FILE_READER_OBJECT__Reader = nullptr;
  uint64_t m__ULONGLONG__StreamSizeInUCHARs = 0;
};

// True when the last name of path ends in extension (".BIN"), in any case.
bool QuorvaneI_HasExtension(const char* path, const char* extension);

// Video CD form-2 sectors.
inline constexpr uint32_t kQuorvaneMpegBlockSize = 2324;      // file bytes per sector
inline constexpr uint32_t kQuorvaneMpegSectorSize = 2332;     // subheader twice + block
// The same with the 4 bytes of the Form 2 EDC the recorder fills in: the
// 2336-byte Mode 2 block a session-at-once cue sheet's XA form takes.
inline constexpr uint32_t kQuorvaneMpegXaSectorSize = 2336;
inline constexpr uint32_t kQuorvaneMpegSectorsPerRead = 26;   // one 61440-byte work buffer

// The 4-byte form-2 subheader (file, channel, submode, coding) of one
// 2324-byte block of an MPEG program stream.
void QuorvaneI_MpegSubheader(const uint8_t* block, uint8_t subheader[4]);

// An MPEG-1/2 program stream delivered as form-2 sectors: each 2324-byte
// piece of the file becomes a sector of 2332 bytes (subheader twice, then
// the piece). A trailing piece shorter than 2324 bytes is left out.
// sectorBytes kQuorvaneMpegXaSectorSize adds the EDC's 4 zero bytes.
class CQuorvane_MPEG12DiskFile : public CQuorvane_DiskFile {
 public:
  explicit CQuorvane_MPEG12DiskFile(const char* fileName, uint32_t sectorBytes = kQuorvaneMpegSectorSize);

 protected:
  void RealRead(uint64_t length, uint8_t* buffer) override;

 private:
  uint32_t m__ULONG__SectorBytes;
  std::unique_ptr<uint8_t[]> m__PUCHAR__Work;
};

// Empty form-2 sectors: the subheader of an empty sector, then zeros.
class CQuorvane_MPEG12ZeroFile : public CQuorvane_File {
 public:
  explicit CQuorvane_MPEG12ZeroFile(uint64_t sizeInUCHARs, uint32_t sectorBytes = kQuorvaneMpegSectorSize);

 protected:
  void RealRead(uint64_t length, uint8_t* buffer) override;

 private:
  uint32_t m__ULONG__SectorBytes;
};
