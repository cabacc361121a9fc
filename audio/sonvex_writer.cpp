// The compressed file writer: CD audio PCM in, Ogg Vorbis out, through the
// vorbisenc, vorbis and ogg libraries loaded at run time. The compression
// value is the encoder's variable bit rate quality level, 0 to 10.
#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "audio/sonvex.h"
#include "platform/errors.h"

struct CSonvex_SyncFileWriter::Encoder {
  CSonvex_Library encLibrary, vorbisLibrary, oggLibrary;
  qv::plat::File file;
  qv::plat::OutputFile* sink = nullptr;  // written there instead, when given
  std::string path;
  vorbis_info info{};
  vorbis_comment comment{};
  vorbis_dsp_state dsp{};
  vorbis_block block{};
  ogg_stream_state ogg{};
  bool infoReady = false, dspReady = false, blockReady = false, oggReady = false, finished = false;
  static constexpr size_t kChunkBytes = 4096 * 4;
  std::vector<uint8_t> pending;  // PCM not yet handed to the encoder

  decltype(&::vorbis_encode_init_vbr) encode_init_vbr = nullptr;
  decltype(&::vorbis_info_init) info_init = nullptr;
  decltype(&::vorbis_info_clear) info_clear = nullptr;
  decltype(&::vorbis_comment_init) comment_init = nullptr;
  decltype(&::vorbis_comment_add_tag) comment_add_tag = nullptr;
  decltype(&::vorbis_comment_clear) comment_clear = nullptr;
  decltype(&::vorbis_analysis_init) analysis_init = nullptr;
  decltype(&::vorbis_block_init) block_init = nullptr;
  decltype(&::vorbis_block_clear) block_clear = nullptr;
  decltype(&::vorbis_dsp_clear) dsp_clear = nullptr;
  decltype(&::vorbis_analysis_headerout) analysis_headerout = nullptr;
  decltype(&::vorbis_analysis_buffer) analysis_buffer = nullptr;
  decltype(&::vorbis_analysis_wrote) analysis_wrote = nullptr;
  decltype(&::vorbis_analysis_blockout) analysis_blockout = nullptr;
  decltype(&::vorbis_analysis) analysis = nullptr;
  decltype(&::vorbis_bitrate_addblock) bitrate_addblock = nullptr;
  decltype(&::vorbis_bitrate_flushpacket) bitrate_flushpacket = nullptr;
  decltype(&::ogg_stream_init) stream_init = nullptr;
  decltype(&::ogg_stream_clear) stream_clear = nullptr;
  decltype(&::ogg_stream_packetin) stream_packetin = nullptr;
  decltype(&::ogg_stream_pageout) stream_pageout = nullptr;
  decltype(&::ogg_stream_flush) stream_flush = nullptr;

  ~Encoder() {
    if (oggReady) stream_clear(&ogg);
    if (blockReady) block_clear(&block);
    if (dspReady) dsp_clear(&dsp);
    if (infoReady) {
      comment_clear(&comment);
      info_clear(&info);
    }
  }

  bool Load() {
    return encLibrary.Load("vorbisenc", {SonvexI_Symbol("vorbis_encode_init_vbr", encode_init_vbr)}) &&
           vorbisLibrary.Load("vorbis", {SonvexI_Symbol("vorbis_info_init", info_init),
                                         SonvexI_Symbol("vorbis_info_clear", info_clear),
                                         SonvexI_Symbol("vorbis_comment_init", comment_init),
                                         SonvexI_Symbol("vorbis_comment_add_tag", comment_add_tag),
                                         SonvexI_Symbol("vorbis_comment_clear", comment_clear),
                                         SonvexI_Symbol("vorbis_analysis_init", analysis_init),
                                         SonvexI_Symbol("vorbis_block_init", block_init),
                                         SonvexI_Symbol("vorbis_block_clear", block_clear),
                                         SonvexI_Symbol("vorbis_dsp_clear", dsp_clear),
                                         SonvexI_Symbol("vorbis_analysis_headerout", analysis_headerout),
                                         SonvexI_Symbol("vorbis_analysis_buffer", analysis_buffer),
                                         SonvexI_Symbol("vorbis_analysis_wrote", analysis_wrote),
                                         SonvexI_Symbol("vorbis_analysis_blockout", analysis_blockout),
                                         SonvexI_Symbol("vorbis_analysis", analysis),
                                         SonvexI_Symbol("vorbis_bitrate_addblock", bitrate_addblock),
                                         SonvexI_Symbol("vorbis_bitrate_flushpacket", bitrate_flushpacket)}) &&
           oggLibrary.Load("ogg", {SonvexI_Symbol("ogg_stream_init", stream_init),
                                   SonvexI_Symbol("ogg_stream_clear", stream_clear),
                                   SonvexI_Symbol("ogg_stream_packetin", stream_packetin),
                                   SonvexI_Symbol("ogg_stream_pageout", stream_pageout),
                                   SonvexI_Symbol("ogg_stream_flush", stream_flush)});
  }

  uint32_t LoadError() const {
    for (const CSonvex_Library* l : {&encLibrary, &vorbisLibrary, &oggLibrary})
      if (l->Error() != 0) return l->Error();
    return qv::plat::kErrModNotFound;
  }

  void WritePage(const ogg_page& page) {
    uint32_t error = 0;
    const auto put = [&](const void* data, long size) {
      return sink != nullptr ? sink->Write(data, static_cast<size_t>(size), &error)
                             : file.Write(data, static_cast<size_t>(size), &error);
    };
    if (!put(page.header, page.header_len) || !put(page.body, page.body_len))
      SonvexI_Fail(error, "\nCSonvex_SyncFileWriter::Write(): WriteFile( '%s' ) failed, status %d ( 0x%x )\n",
                   path.c_str(), static_cast<int>(error), error);
  }

  // Moves every finished block through the encoder into pages on disk.
  void Drain() {
    while (analysis_blockout(&dsp, &block) == 1) {
      analysis(&block, nullptr);
      bitrate_addblock(&block);
      ogg_packet packet;
      while (bitrate_flushpacket(&dsp, &packet) == 1) {
        stream_packetin(&ogg, &packet);
        ogg_page page;
        while (stream_pageout(&ogg, &page) != 0) WritePage(page);
      }
    }
  }

  void Submit(const uint8_t* pcm, size_t frames) {
    constexpr size_t kChunk = kChunkBytes / 4;
    while (frames > 0) {
      const size_t n = frames < kChunk ? frames : kChunk;
      float** channels = analysis_buffer(&dsp, static_cast<int>(n));
      for (size_t i = 0; i < n; ++i) {
        const uint8_t* s = pcm + 4 * i;
        channels[0][i] = static_cast<int16_t>(s[0] | s[1] << 8) / 32768.0f;
        channels[1][i] = static_cast<int16_t>(s[2] | s[3] << 8) / 32768.0f;
      }
      analysis_wrote(&dsp, static_cast<int>(n));
      Drain();
      pcm += 4 * n;
      frames -= n;
    }
  }
};

CSonvex_SyncFileWriter::CSonvex_SyncFileWriter() = default;
CSonvex_SyncFileWriter::~CSonvex_SyncFileWriter() = default;

void CSonvex_SyncFileWriter::Create(const std::string& path, SONVEX_COMPRESSION compression,
                                    qv::plat::OutputFile* sink) {
  const int32_t quality = compression;
  if (quality < SONVEX_COMPRESSION_OGG_VORBIS_Q0 || quality > SONVEX_COMPRESSION_OGG_VORBIS_Q10)
    SonvexI_Fail(qv::plat::kErrInvalidParameter,
                 "\nCSonvex_SyncFileWriter::Create(): compression %d is not one of 0 to 10, status %d ( 0x%x )\n",
                 quality, static_cast<int>(qv::plat::kErrInvalidParameter), qv::plat::kErrInvalidParameter);
  auto e = std::make_unique<Encoder>();
  if (!e->Load()) {
    const uint32_t status = e->LoadError();
    SonvexI_Fail(status, "\nCSonvex_SyncFileWriter::Create(): the Ogg Vorbis encoder is not available, status %d ( 0x%x )\n",
                 static_cast<int>(status), status);
  }
  e->info_init(&e->info);
  e->comment_init(&e->comment);
  e->infoReady = true;
  if (e->encode_init_vbr(&e->info, 2, 44100, static_cast<float>(quality) / 10.0f) != 0)
    SonvexI_Fail(qv::plat::kErrInvalidParameter, "\nCSonvex_SyncFileWriter::Create(): vorbis_encode_init_vbr( %d ) failed\n",
                 quality);
  e->comment_add_tag(&e->comment, "ENCODER", "Sonvex 6.6.30");
  e->analysis_init(&e->dsp, &e->info);
  e->dspReady = true;
  e->block_init(&e->dsp, &e->block);
  e->blockReady = true;
  std::random_device random;
  e->stream_init(&e->ogg, static_cast<int>(random() & 0x7FFFFFFF));
  e->oggReady = true;

  uint32_t error = 0;
  e->path = path;
  e->sink = sink;
  if (sink == nullptr) e->file = qv::plat::File::Open(path, qv::plat::FileMode::CreateAlways, &error);
  if (sink == nullptr && !e->file.IsOpen())
    SonvexI_Fail(error, "\nCSonvex_SyncFileWriter::Create(): CreateFile( '%s' ) failed, status %d ( 0x%x )\n",
                 path.c_str(), static_cast<int>(error), error);
  ogg_packet id, comments, codebooks;
  e->analysis_headerout(&e->dsp, &e->comment, &id, &comments, &codebooks);
  e->stream_packetin(&e->ogg, &id);
  e->stream_packetin(&e->ogg, &comments);
  e->stream_packetin(&e->ogg, &codebooks);
  // The headers stand on pages of their own, as decoders expect.
  ogg_page page;
  while (e->stream_flush(&e->ogg, &page) != 0) e->WritePage(page);
  SonvexI_Log("\nCSonvex_SyncFileWriter::Create(): '%s' is written as Ogg Vorbis, quality %d\n", path.c_str(), quality);
  encoder_ = std::move(e);
}

void CSonvex_SyncFileWriter::Write(const uint8_t* pcm, size_t size) {
  Encoder& e = *encoder_;
  if (e.finished)
    SonvexI_Fail(qv::plat::kErrInvalidHandle, "\nCSonvex_SyncFileWriter::Write(): the file is already finished\n");
  // The encoder gets the same chunks whatever the caller's piece sizes, so
  // that the file does not depend on them.
  e.pending.insert(e.pending.end(), pcm, pcm + size);
  const size_t whole = e.pending.size() / Encoder::kChunkBytes * Encoder::kChunkBytes;
  e.Submit(e.pending.data(), whole / 4);
  e.pending.erase(e.pending.begin(), e.pending.begin() + static_cast<ptrdiff_t>(whole));
}

void CSonvex_SyncFileWriter::Finish() {
  Encoder& e = *encoder_;
  if (e.finished) return;
  e.finished = true;  // also when it fails: a second attempt would write garbage
  e.Submit(e.pending.data(), e.pending.size() / 4);
  if (e.pending.size() % 4 != 0)
    SonvexI_Log("\nCSonvex_SyncFileWriter::Finish(): WARNING! %d UCHARs of an incomplete sample dropped\n",
                static_cast<int>(e.pending.size() % 4));
  e.pending.clear();
  e.analysis_wrote(&e.dsp, 0);  // end of stream
  e.Drain();
  ogg_page page;
  while (e.stream_flush(&e.ogg, &page) != 0) e.WritePage(page);
  e.file.Close();
}
