// MPEG audio (layers I to III) through libmpg123, loaded at run time. The
// library itself turns every stream into 44100 Hz stereo 16-bit: its
// resampler and stereo duplication are forced on, and the output format
// table holds that one format only.
#include <mpg123.h>

#include <cstdio>
#include <cstring>

#include "audio/sonvex.h"
#include "platform/errors.h"

// Names as the header means them (it may rename the off_t functions).
#define SONVEX_NAME_OF(f) SONVEX_NAME_TEXT(f)
#define SONVEX_NAME_TEXT(f) #f

namespace {

// Bit rates in kbit/s by [MPEG-1?][layer 1..3][index]; sample rates by
// [version bits][index] (version bits: 0 MPEG-2.5, 2 MPEG-2, 3 MPEG-1).
constexpr uint16_t kBitRates[2][3][15] = {
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}},
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
};
constexpr uint32_t kSampleRates[4][3] = {{11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};

struct FrameHeader {
  int version;  // version bits
  int layer;    // 1 to 3
  uint32_t rate;
  size_t length;  // bytes of the whole frame
};

bool ParseFrameHeader(const uint8_t* p, FrameHeader* h) {
  if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return false;
  const int version = (p[1] >> 3) & 3;
  const int layerBits = (p[1] >> 1) & 3;
  const int bitrateIndex = p[2] >> 4;
  const int rateIndex = (p[2] >> 2) & 3;
  const int padding = (p[2] >> 1) & 1;
  if (version == 1 || layerBits == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3 || (p[3] & 3) == 2)
    return false;
  h->version = version;
  h->layer = 4 - layerBits;
  h->rate = kSampleRates[version][rateIndex];
  const uint32_t bitrate = kBitRates[version == 3 ? 1 : 0][h->layer - 1][bitrateIndex] * 1000u;
  if (h->layer == 1) h->length = (12 * bitrate / h->rate + padding) * 4;
  else if (h->layer == 3 && version != 3) h->length = 72 * bitrate / h->rate + padding;
  else h->length = 144 * bitrate / h->rate + padding;
  return h->length >= 4;
}

class MpegDecoder final : public CSonvex_Decoder {
 public:
  explicit MpegDecoder(const std::string& path) : stream_(path) {}
  ~MpegDecoder() override {
    if (handle_ != nullptr) {
      close_(handle_);
      delete_(handle_);
      SonvexI_Log("\nCSonvex_SyncFileReader::Close(): Just released MPEG audio decoder\n");
    }
  }

  bool Open(const std::string& path) {
    uint64_t toEnd = 0;
    const std::vector<uint8_t> head = SonvexI_ReadHead(stream_, 16384, &toEnd);
    if (!SonvexI_LooksLikeMpegAudio(head.data(), head.size(), toEnd)) return false;
    if (!library_.Load("mpg123", {SonvexI_Symbol("mpg123_init", init_), SonvexI_Symbol("mpg123_new", new_),
                                  SonvexI_Symbol("mpg123_delete", delete_), SonvexI_Symbol("mpg123_close", close_),
                                  SonvexI_Symbol("mpg123_param", param_),
                                  SonvexI_Symbol("mpg123_format_none", formatNone_),
                                  SonvexI_Symbol("mpg123_format", format_),
                                  SonvexI_Symbol("mpg123_getformat", getFormat_),
                                  SonvexI_Symbol(SONVEX_NAME_OF(mpg123_replace_reader_handle), replaceReader_),
                                  SonvexI_Symbol(SONVEX_NAME_OF(mpg123_open_handle), openHandle_),
                                  SonvexI_Symbol("mpg123_read", read_),
                                  SonvexI_Symbol("mpg123_scan", scan_), SonvexI_Symbol(SONVEX_NAME_OF(mpg123_length), length_),
                                  SonvexI_Symbol("mpg123_strerror", strerror_)}))
      return false;
    init_();
    int error = 0;
    handle_ = new_(nullptr, &error);
    if (handle_ == nullptr)
      SonvexI_Fail(qv::plat::kErrNotEnoughMemory, "\nCSonvex_SyncFileReader::Open(): mpg123_new() failed ( %d )\n", error);
    const long flags = MPG123_FORCE_STEREO | MPG123_QUIET | MPG123_GAPLESS;
    if (param_(handle_, MPG123_ADD_FLAGS, flags, 0) != MPG123_OK ||
        param_(handle_, MPG123_FORCE_RATE, 44100, 0) != MPG123_OK || formatNone_(handle_) != MPG123_OK ||
        format_(handle_, 44100, MPG123_STEREO, MPG123_ENC_SIGNED_16) != MPG123_OK)
      SonvexI_Fail(qv::plat::kErrNotSupported,
                   "\nCSonvex_SyncFileReader::Open(): the MPEG audio library cannot deliver 44100 Hz stereo: %s\n",
                   strerror_(handle_));
    if (replaceReader_(handle_, &ReadCallback, &SeekCallback, nullptr) != MPG123_OK ||
        openHandle_(handle_, &stream_) != MPG123_OK)
      SonvexI_Fail(qv::plat::kErrInvalidData, "\nCSonvex_SyncFileReader::Open(): mpg123_open_handle( '%s' ) failed: %s\n",
                   path.c_str(), strerror_(handle_));
    CheckFormat();
    // The exact output length, resampling and encoder gaps included.
    if (scan_(handle_) != MPG123_OK)
      SonvexI_Fail(InputStatus(), "\nCSonvex_SyncFileReader::Open(): mpg123_scan() failed: %s\n", strerror_(handle_));
    const off_t samples = length_(handle_);
    if (samples < 0)
      SonvexI_Fail(qv::plat::kErrInvalidData, "\nCSonvex_SyncFileReader::Open(): mpg123_length() failed: %s\n",
                   strerror_(handle_));
    size_ = static_cast<uint64_t>(samples) * 4;
    SonvexI_Detail("\nCSonvex_SyncFileReader::Open(): MPEG audio stream, %llu samples at 44100 Hz\n",
                   static_cast<unsigned long long>(samples));
    return true;
  }

  const char* Kind() const override { return "MP3"; }

  size_t Decode(uint8_t* buffer, size_t capacity) override {
    for (;;) {
      size_t done = 0;
      const int result = read_(handle_, buffer, capacity, &done);
      if (done > 0) return done;
      if (result == MPG123_DONE) {
        if (stream_.LastError() != 0)
          SonvexI_Fail(stream_.LastError(), "\nCSonvex_SyncFileReader::Read(): reading the stream failed\n");
        return 0;
      }
      if (result == MPG123_NEW_FORMAT) {
        CheckFormat();
        continue;
      }
      if (result == MPG123_OK) continue;
      SonvexI_Fail(InputStatus(), "\nCSonvex_SyncFileReader::Read(): mpg123_read() failed: %s\n", strerror_(handle_));
    }
  }

  // A seek to 0 keeps some synthesis and resampler state of what was
  // decoded before; opening the stream afresh gives the same bytes every time.
  void Rewind() override {
    close_(handle_);
    stream_.Seek(0, 0);
    if (openHandle_(handle_, &stream_) != MPG123_OK)
      SonvexI_Fail(qv::plat::kErrSeek, "\nCSonvex_SyncFileReader::BeginSeek(): mpg123_open_handle() failed: %s\n",
                   strerror_(handle_));
    CheckFormat();
  }

  uint64_t UncompressedSize() override { return size_; }

 private:
  uint32_t InputStatus() const { return stream_.LastError() ? stream_.LastError() : qv::plat::kErrInvalidData; }

  void CheckFormat() {
    long rate = 0;
    int channels = 0, encoding = 0;
    if (getFormat_(handle_, &rate, &channels, &encoding) != MPG123_OK)
      SonvexI_Fail(InputStatus(), "\nCSonvex_SyncFileReader::Open(): mpg123_getformat() failed: %s\n",
                   strerror_(handle_));
    if (rate != 44100 || channels != 2 || encoding != MPG123_ENC_SIGNED_16)
      SonvexI_Fail(SONVEX_STATUS_STREAM_SHAPE,
                   "\nCSonvex_SyncFileReader::Open(): Either number of channels ( %d ) or sample rate ( %d ) are not "
                   "accepted\n",
                   channels, static_cast<int>(rate));
  }

  static mpg123_ssize_t ReadCallback(void* source, void* buffer, size_t size) {
    auto* s = static_cast<CSonvex_ReadOnlyFileStream*>(source);
    const size_t got = s->Read(buffer, size);
    return s->LastError() != 0 ? -1 : static_cast<mpg123_ssize_t>(got);
  }
  static off_t SeekCallback(void* source, off_t offset, int whence) {
    auto* s = static_cast<CSonvex_ReadOnlyFileStream*>(source);
    const int how = whence == SEEK_CUR ? 1 : whence == SEEK_END ? 2 : whence == SEEK_SET ? 0 : -1;
    return s->Seek(offset, how) ? static_cast<off_t>(s->Tell()) : static_cast<off_t>(-1);
  }

  CSonvex_ReadOnlyFileStream stream_;
  CSonvex_Library library_;
  mpg123_handle* handle_ = nullptr;
  uint64_t size_ = 0;

  decltype(&::mpg123_init) init_ = nullptr;
  decltype(&::mpg123_new) new_ = nullptr;
  decltype(&::mpg123_delete) delete_ = nullptr;
  decltype(&::mpg123_close) close_ = nullptr;
  decltype(&::mpg123_param) param_ = nullptr;
  decltype(&::mpg123_format_none) formatNone_ = nullptr;
  decltype(&::mpg123_format) format_ = nullptr;
  decltype(&::mpg123_getformat) getFormat_ = nullptr;
  decltype(&::mpg123_replace_reader_handle) replaceReader_ = nullptr;
  decltype(&::mpg123_open_handle) openHandle_ = nullptr;
  decltype(&::mpg123_read) read_ = nullptr;
  decltype(&::mpg123_scan) scan_ = nullptr;
  decltype(&::mpg123_length) length_ = nullptr;
  decltype(&::mpg123_strerror) strerror_ = nullptr;
};

}  // namespace

uint64_t SonvexI_Id3v2Length(const uint8_t* d, size_t size) {
  if (size < 10 || std::memcmp(d, "ID3", 3) != 0 || d[3] == 0xFF || d[4] == 0xFF) return 0;
  uint64_t body = 0;
  for (int i = 6; i < 10; ++i) {
    if (d[i] & 0x80) return 0;  // sizes are 7 bits a byte
    body = body << 7 | d[i];
  }
  return 10 + body + ((d[5] & 0x10) ? 10 : 0);
}

std::vector<uint8_t> SonvexI_ReadHead(CSonvex_ReadOnlyFileStream& stream, size_t size, uint64_t* bytesToEnd) {
  uint8_t tag[10];
  stream.Seek(0, 0);
  const uint64_t skip = SonvexI_Id3v2Length(tag, stream.Read(tag, sizeof tag));
  std::vector<uint8_t> head(size);
  stream.Seek(static_cast<int64_t>(skip), 0);
  head.resize(stream.Read(head.data(), head.size()));
  if (bytesToEnd) *bytesToEnd = stream.Length() > skip ? stream.Length() - skip : 0;
  stream.Seek(0, 0);
  return head;
}

bool SonvexI_LooksLikeMpegAudio(const uint8_t* data, size_t size, uint64_t bytesToEnd) {
  size_t at = 0;
  while (at < size && data[at] == 0) ++at;  // padding after a tag
  FrameHeader first{}, second{};
  if (size < 4 || at > size - 4 || !ParseFrameHeader(data + at, &first)) return false;
  const uint64_t next = at + first.length;
  // A stream of one frame, maybe with an ID3v1 tag behind it.
  if (next == bytesToEnd || next + 128 == bytesToEnd) return true;
  if (next + 4 > size || !ParseFrameHeader(data + next, &second)) return false;
  return second.version == first.version && second.layer == first.layer && second.rate == first.rate;
}

std::unique_ptr<CSonvex_Decoder> SonvexI_OpenMpeg(const std::string& path) {
  auto decoder = std::make_unique<MpegDecoder>(path);
  if (!decoder->Open(path)) return nullptr;
  return decoder;
}
