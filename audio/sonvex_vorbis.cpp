// Ogg Vorbis input through the vorbisfile library, loaded at run time. Only
// its headers are used at build time.
#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

#include <cstring>

#include "audio/sonvex.h"
#include "platform/errors.h"

namespace {

class VorbisDecoder final : public CSonvex_Decoder {
 public:
  explicit VorbisDecoder(const std::string& path) : stream_(path) {}
  ~VorbisDecoder() override {
    if (opened_) {
      ov_clear_(&file_);
      SonvexI_Log("\nCSonvex_SyncFileReader::Close(): Just cleared all OGG related stuff\n");
    }
  }

  // False when the file is not Ogg Vorbis or the library is missing.
  bool Open(const std::string& path) {
    // Only a file that begins with an Ogg page goes to the library: its
    // failed opening of other files leaks, and every MP3 and FLAC file
    // passes here first.
    char capture[4] = {};
    const bool ogg = stream_.Read(capture, 4) == 4 && std::memcmp(capture, "OggS", 4) == 0;
    stream_.Seek(0, 0);
    if (!ogg) return false;
    if (!library_.Load("vorbisfile.dll", {SonvexI_Symbol("ov_open_callbacks", ov_open_callbacks_),
                                          SonvexI_Symbol("ov_clear", ov_clear_),
                                          SonvexI_Symbol("ov_pcm_total", ov_pcm_total_),
                                          SonvexI_Symbol("ov_raw_seek", ov_raw_seek_),
                                          SonvexI_Symbol("ov_info", ov_info_), SonvexI_Symbol("ov_read", ov_read_)}))
      return false;
    std::memset(&file_, 0, sizeof file_);
    const ov_callbacks callbacks{&ReadCallback, &SeekCallback, nullptr, &TellCallback};
    const int result = ov_open_callbacks_(&stream_, &file_, nullptr, 0, callbacks);
    if (result != 0) {
      SonvexI_Detail("\nCSonvex_SyncFileReader::Open(): '%s' is not an Ogg Vorbis stream ( %d )\n", path.c_str(),
                     result);
      return false;
    }
    opened_ = true;
    // Every link of a chained stream must have the CD shape.
    for (int link = 0;; ++link) {
      const vorbis_info* info = ov_info_(&file_, link);
      if (info == nullptr) {
        if (link == 0)
          SonvexI_Fail(qv::plat::kErrInvalidData, "\nCSonvex_SyncFileReader::Open(): ov_info() failed, status %d\n",
                       static_cast<int>(qv::plat::kErrInvalidData));
        break;
      }
      if (info->channels != 2 || info->rate != 44100)
        SonvexI_Fail(SONVEX_STATUS_STREAM_SHAPE,
                     "\nCSonvex_SyncFileReader::Open(): Either number of channels ( %d ) or sample rate ( %d ) are not "
                     "accepted\n",
                     info->channels, static_cast<int>(info->rate));
    }
    const ogg_int64_t samples = ov_pcm_total_(&file_, -1);
    if (samples < 0)
      SonvexI_Fail(qv::plat::kErrInvalidData, "\nCSonvex_SyncFileReader::Open(): ov_pcm_total() failed ( %d )\n",
                   static_cast<int>(samples));
    size_ = static_cast<uint64_t>(samples) * 4;
    return true;
  }

  const char* Kind() const override { return "OGG"; }

  size_t Decode(uint8_t* buffer, size_t capacity) override {
    for (;;) {
      int section = 0;
      const int ask = static_cast<int>(capacity > 0x10000 ? 0x10000 : capacity);
      const long got = ov_read_(&file_, reinterpret_cast<char*>(buffer), ask, 0, 2, 1, &section);
      if (got > 0) return static_cast<size_t>(got);
      if (got == 0) {
        if (stream_.LastError() != 0)
          SonvexI_Fail(stream_.LastError(), "\nCSonvex_SyncFileReader::Read(): reading the stream failed\n");
        return 0;
      }
      if (got == OV_HOLE) continue;  // a gap in the data: the decoder resynchronised
      SonvexI_Fail(qv::plat::kErrInvalidData, "\nCSonvex_SyncFileReader::Read(): ov_read() failed ( %d ), status %d\n",
                   static_cast<int>(got), static_cast<int>(qv::plat::kErrInvalidData));
    }
  }

  void Rewind() override {
    const int result = ov_raw_seek_(&file_, 0);
    if (result != 0)
      SonvexI_Fail(qv::plat::kErrSeek, "\nCSonvex_SyncFileReader::BeginSeek(): ov_raw_seek() failed ( %d )\n", result);
  }

  uint64_t UncompressedSize() override { return size_; }

 private:
  static size_t ReadCallback(void* ptr, size_t size, size_t count, void* source) {
    if (size == 0) return 0;
    return static_cast<CSonvex_ReadOnlyFileStream*>(source)->Read(ptr, size * count) / size;
  }
  static int SeekCallback(void* source, ogg_int64_t offset, int whence) {
    return static_cast<CSonvex_ReadOnlyFileStream*>(source)->Seek(offset, whence) ? 0 : -1;
  }
  static long TellCallback(void* source) {
    return static_cast<long>(static_cast<CSonvex_ReadOnlyFileStream*>(source)->Tell());
  }

  CSonvex_ReadOnlyFileStream stream_;
  CSonvex_Library library_;
  OggVorbis_File file_;
  bool opened_ = false;
  uint64_t size_ = 0;
  decltype(&::ov_open_callbacks) ov_open_callbacks_ = nullptr;
  decltype(&::ov_clear) ov_clear_ = nullptr;
  decltype(&::ov_pcm_total) ov_pcm_total_ = nullptr;
  decltype(&::ov_raw_seek) ov_raw_seek_ = nullptr;
  decltype(&::ov_info) ov_info_ = nullptr;
  decltype(&::ov_read) ov_read_ = nullptr;
};

}  // namespace

std::unique_ptr<CSonvex_Decoder> SonvexI_OpenVorbis(const std::string& path) {
  auto decoder = std::make_unique<VorbisDecoder>(path);
  if (!decoder->Open(path)) return nullptr;
  return decoder;
}
