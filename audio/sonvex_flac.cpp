// FLAC input through libFLAC, loaded at run time: 2 channels at 44100 Hz,
// any sample width from 8 to 32 bits brought to 16.
#include <FLAC/stream_decoder.h>

#include <algorithm>
#include <cstring>

#include "audio/sonvex.h"
#include "platform/errors.h"

namespace {

class FlacDecoder final : public CSonvex_Decoder {
 public:
  explicit FlacDecoder(const std::string& path) : stream_(path) {}
  ~FlacDecoder() override {
    if (decoder_ != nullptr) {
      finish_(decoder_);
      delete_(decoder_);
      SonvexI_Log("\nCSonvex_SyncFileReader::Close(): Just released FLAC decoder\n");
    }
  }

  bool Open(const std::string& path) {
    const std::vector<uint8_t> head = SonvexI_ReadHead(stream_, 64);
    if (!SonvexI_LooksLikeFlac(head.data(), head.size())) return false;
    if (!library_.Load("flac", {SonvexI_Symbol("FLAC__stream_decoder_new", new_),
                                SonvexI_Symbol("FLAC__stream_decoder_delete", delete_),
                                SonvexI_Symbol("FLAC__stream_decoder_init_stream", init_),
                                SonvexI_Symbol("FLAC__stream_decoder_finish", finish_),
                                SonvexI_Symbol("FLAC__stream_decoder_process_single", process_),
                                SonvexI_Symbol("FLAC__stream_decoder_process_until_end_of_metadata", metadata_),
                                SonvexI_Symbol("FLAC__stream_decoder_seek_absolute", seek_),
                                SonvexI_Symbol("FLAC__stream_decoder_get_state", state_),
                                SonvexI_Symbol("FLAC__stream_decoder_flush", flush_)}))
      return false;
    decoder_ = new_();
    if (decoder_ == nullptr)
      SonvexI_Fail(qv::plat::kErrNotEnoughMemory, "\nCSonvex_SyncFileReader::Open(): FLAC__stream_decoder_new() failed\n");
    if (init_(decoder_, &ReadCallback, &SeekCallback, &TellCallback, &LengthCallback, &EofCallback, &WriteCallback,
              &MetadataCallback, &ErrorCallback, this) != FLAC__STREAM_DECODER_INIT_STATUS_OK)
      SonvexI_Fail(qv::plat::kErrInvalidData, "\nCSonvex_SyncFileReader::Open(): FLAC__stream_decoder_init_stream() failed\n");
    if (!metadata_(decoder_) || !haveInfo_)
      SonvexI_Fail(qv::plat::kErrInvalidData,
                   "\nCSonvex_SyncFileReader::Open(): '%s' has no readable FLAC stream information, status %d\n",
                   path.c_str(), static_cast<int>(qv::plat::kErrInvalidData));
    if (channels_ != 2 || rate_ != 44100)
      SonvexI_Fail(SONVEX_STATUS_STREAM_SHAPE,
                   "\nCSonvex_SyncFileReader::Open(): Either number of channels ( %d ) or sample rate ( %d ) are not "
                   "accepted\n",
                   static_cast<int>(channels_), static_cast<int>(rate_));
    if (bits_ < 8 || bits_ > 32)
      SonvexI_Fail(SONVEX_STATUS_STREAM_SHAPE, "\nCSonvex_SyncFileReader::Open(): %d bits per sample are not accepted\n",
                   static_cast<int>(bits_));
    if (totalSamples_ == 0) totalSamples_ = CountSamples();  // the stream information did not say
    return true;
  }

  const char* Kind() const override { return "FLAC"; }

  size_t Decode(uint8_t* buffer, size_t capacity) override {
    while (pending_ == pcm_.size()) {
      if (ended_) return 0;
      pcm_.clear();
      pending_ = 0;
      if (!process_(decoder_) || broken_)
        SonvexI_Fail(broken_ ? qv::plat::kErrInvalidData : FailureStatus(),
                     "\nCSonvex_SyncFileReader::Read(): FLAC__stream_decoder_process_single() failed, state %d\n",
                     static_cast<int>(state_(decoder_)));
      if (pcm_.empty() && state_(decoder_) == FLAC__STREAM_DECODER_END_OF_STREAM) ended_ = true;
    }
    const size_t n = std::min(capacity, pcm_.size() - pending_);
    std::memcpy(buffer, pcm_.data() + pending_, n);
    pending_ += n;
    return n;
  }

  void Rewind() override {
    pcm_.clear();
    pending_ = 0;
    ended_ = false;
    broken_ = false;
    samplesOut_ = 0;
    if (!seek_(decoder_, 0)) {
      flush_(decoder_);
      SonvexI_Fail(qv::plat::kErrSeek, "\nCSonvex_SyncFileReader::BeginSeek(): FLAC__stream_decoder_seek_absolute() failed\n");
    }
    // A seek decodes the target frame into the write callback already.
  }

  uint64_t UncompressedSize() override { return totalSamples_ * 4; }

 private:
  uint32_t FailureStatus() const { return stream_.LastError() ? stream_.LastError() : qv::plat::kErrInvalidData; }

  uint64_t CountSamples() {
    uint64_t bytes = 0;
    uint8_t scratch[16384];
    for (size_t n; (n = Decode(scratch, sizeof scratch)) != 0;) bytes += n;
    Rewind();
    return bytes / 4;
  }

  static FlacDecoder* Self(void* client) { return static_cast<FlacDecoder*>(client); }

  static FLAC__StreamDecoderReadStatus ReadCallback(const FLAC__StreamDecoder*, FLAC__byte buffer[], size_t* bytes,
                                                    void* client) {
    auto& s = Self(client)->stream_;
    *bytes = s.Read(buffer, *bytes);
    if (s.LastError() != 0) return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
    return *bytes == 0 ? FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM : FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
  }
  static FLAC__StreamDecoderSeekStatus SeekCallback(const FLAC__StreamDecoder*, FLAC__uint64 offset, void* client) {
    if (offset > static_cast<FLAC__uint64>(INT64_MAX)) return FLAC__STREAM_DECODER_SEEK_STATUS_ERROR;
    return Self(client)->stream_.Seek(static_cast<int64_t>(offset), 0) ? FLAC__STREAM_DECODER_SEEK_STATUS_OK
                                                                       : FLAC__STREAM_DECODER_SEEK_STATUS_ERROR;
  }
  static FLAC__StreamDecoderTellStatus TellCallback(const FLAC__StreamDecoder*, FLAC__uint64* offset, void* client) {
    *offset = Self(client)->stream_.Tell();
    return FLAC__STREAM_DECODER_TELL_STATUS_OK;
  }
  static FLAC__StreamDecoderLengthStatus LengthCallback(const FLAC__StreamDecoder*, FLAC__uint64* length,
                                                        void* client) {
    *length = Self(client)->stream_.Length();
    return FLAC__STREAM_DECODER_LENGTH_STATUS_OK;
  }
  static FLAC__bool EofCallback(const FLAC__StreamDecoder*, void* client) { return Self(client)->stream_.AtEnd(); }

  static FLAC__StreamDecoderWriteStatus WriteCallback(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                                      const FLAC__int32* const buffer[], void* client) {
    FlacDecoder* self = Self(client);
    // A frame that contradicts the stream information is not CD audio.
    if (frame->header.channels != 2 || frame->header.bits_per_sample != self->bits_) {
      self->broken_ = true;
      SonvexI_Log("\nCSonvex_SyncFileReader::Read(): FLAC frame of %u channels and %u bits in a stream of %u and %u\n",
                  frame->header.channels, frame->header.bits_per_sample, self->channels_, self->bits_);
      return FLAC__STREAM_DECODER_WRITE_STATUS_ABORT;
    }
    self->samplesOut_ += frame->header.blocksize;
    const uint32_t shift = self->bits_ > 16 ? self->bits_ - 16 : 0;
    const uint32_t widen = self->bits_ < 16 ? 16 - self->bits_ : 0;
    const size_t start = self->pcm_.size();
    self->pcm_.resize(start + static_cast<size_t>(frame->header.blocksize) * 4);
    uint8_t* out = self->pcm_.data() + start;
    for (uint32_t i = 0; i < frame->header.blocksize; ++i) {
      for (int c = 0; c < 2; ++c) {
        // Arithmetic shifts on the widened value: no overflow for 32-bit input.
        int64_t v = buffer[c][i];
        v = shift ? v >> shift : v * (int64_t{1} << widen);
        v = std::clamp<int64_t>(v, -32768, 32767);
        const auto u = static_cast<uint16_t>(static_cast<int16_t>(v));
        *out++ = static_cast<uint8_t>(u);
        *out++ = static_cast<uint8_t>(u >> 8);
      }
    }
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
  }

  static void MetadataCallback(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* metadata, void* client) {
    if (metadata->type != FLAC__METADATA_TYPE_STREAMINFO) return;
    FlacDecoder* self = Self(client);
    self->haveInfo_ = true;
    self->channels_ = metadata->data.stream_info.channels;
    self->rate_ = metadata->data.stream_info.sample_rate;
    self->bits_ = metadata->data.stream_info.bits_per_sample;
    self->totalSamples_ = metadata->data.stream_info.total_samples;
    SonvexI_Detail("\nCSonvex_SyncFileReader::Open(): FLAC stream of %u channels, %u Hz, %u bits, %llu samples\n",
                   self->channels_, self->rate_, self->bits_, static_cast<unsigned long long>(self->totalSamples_));
  }

  static void ErrorCallback(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus status, void* client) {
    // The decoder would skip a bad frame, or fill it with silence: damaged
    // audio, so the read fails. Past the last sample (a tag after the
    // stream) nothing is lost.
    FlacDecoder* self = Self(client);
    SonvexI_Log("\nCSonvex_SyncFileReader::Read(): FLAC decoder reports error %d after %llu samples\n",
                static_cast<int>(status), static_cast<unsigned long long>(self->samplesOut_));
    if (self->totalSamples_ == 0 || self->samplesOut_ < self->totalSamples_) self->broken_ = true;
  }

  CSonvex_ReadOnlyFileStream stream_;
  CSonvex_Library library_;
  FLAC__StreamDecoder* decoder_ = nullptr;
  bool haveInfo_ = false, ended_ = false, broken_ = false;
  uint32_t channels_ = 0, rate_ = 0, bits_ = 0;
  uint64_t totalSamples_ = 0;
  uint64_t samplesOut_ = 0;  // decoded since the start
  std::vector<uint8_t> pcm_;  // the decoded frame being handed out
  size_t pending_ = 0;        // how much of it is handed out

  decltype(&::FLAC__stream_decoder_new) new_ = nullptr;
  decltype(&::FLAC__stream_decoder_delete) delete_ = nullptr;
  decltype(&::FLAC__stream_decoder_init_stream) init_ = nullptr;
  decltype(&::FLAC__stream_decoder_finish) finish_ = nullptr;
  decltype(&::FLAC__stream_decoder_process_single) process_ = nullptr;
  decltype(&::FLAC__stream_decoder_process_until_end_of_metadata) metadata_ = nullptr;
  decltype(&::FLAC__stream_decoder_seek_absolute) seek_ = nullptr;
  decltype(&::FLAC__stream_decoder_get_state) state_ = nullptr;
  decltype(&::FLAC__stream_decoder_flush) flush_ = nullptr;
};

}  // namespace

bool SonvexI_LooksLikeFlac(const uint8_t* data, size_t size) {
  return size >= 4 && std::memcmp(data, "fLaC", 4) == 0;
}

std::unique_ptr<CSonvex_Decoder> SonvexI_OpenFlac(const std::string& path) {
  auto decoder = std::make_unique<FlacDecoder>(path);
  if (!decoder->Open(path)) return nullptr;
  return decoder;
}
