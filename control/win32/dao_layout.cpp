#include "control/win32/dao_layout.h"

#include "control/trace.h"

namespace qv::control {
namespace {

struct ConversionFailed {};

// An optional CD-Text argument. The original rule takes a VARIANT whose
// type word has bit 0 set (VT_NULL, VT_I4, VT_R4, ...); a string is taken
// too, since a CD-Text name is text. An omitted argument (VT_ERROR) and
// VT_EMPTY are not. By-reference arguments are looked through.
void TakeCdText(const VARIANT& argument, std::string& into) {
  VARIANT value;
  VariantInit(&value);
  if (FAILED(VariantCopyInd(&value, const_cast<VARIANT*>(&argument)))) throw ConversionFailed{};
  const bool taken = (V_VT(&value) & 1) != 0 || V_VT(&value) == VT_BSTR;
  if (!taken) {
    VariantClear(&value);
    return;
  }
  VARIANT text;
  VariantInit(&text);
  const HRESULT hr = VariantChangeType(&text, &value, 0, VT_BSTR);
  VariantClear(&value);
  if (FAILED(hr)) throw ConversionFailed{};
  try {
    into = NarrowFromBstr(V_BSTR(&text));
  } catch (...) {
    VariantClear(&text);
    throw;
  }
  VariantClear(&text);
}

}  // namespace

HRESULT CDAOLayout::AddTrack(BSTR fileName, VARIANT artist, VARIANT title) {
  try {
    DaoTrack track;
    track.fileName = NarrowFromBstr(fileName);
    TakeCdText(artist, track.artist);
    TakeCdText(title, track.title);
    std::lock_guard<std::mutex> lock(mutex_);
    tracks_.push_back(std::move(track));
    return S_OK;
  } catch (...) {  // out of memory, or a CD-Text argument that is no text
    QVX("CDAOLayout::AddCDTextInfo() : Exception\n");
    return E_OUTOFMEMORY;
  }
}

HRESULT CDAOLayout::AddCDTextInfo(BSTR artist, BSTR album) {
  try {
    std::string a = NarrowFromBstr(artist), b = NarrowFromBstr(album);
    std::lock_guard<std::mutex> lock(mutex_);
    artist_ = std::move(a);
    album_ = std::move(b);
    return S_OK;
  } catch (...) {
    QVX("CDAOLayout::AddCDTextInfo() : Exception\n");
    return E_OUTOFMEMORY;
  }
}

HRESULT CDAOLayout::get_TrackCount(ULONG* value) {
  if (!CheckOutPointer("CDAOLayout::get_TrackCount", value, sizeof *value)) return E_POINTER;
  std::lock_guard<std::mutex> lock(mutex_);
  *value = static_cast<ULONG>(tracks_.size());
  return S_OK;
}

std::vector<DaoTrack> CDAOLayout::Tracks() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return tracks_;
}

std::string CDAOLayout::DiscArtist() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return artist_;
}

std::string CDAOLayout::DiscAlbum() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return album_;
}

std::vector<QUORVANE_SAO_TRACK> SaoTracksOf(const std::vector<DaoTrack>& tracks) {
  std::vector<QUORVANE_SAO_TRACK> out(tracks.size(), QUORVANE_SAO_TRACK{});
  for (size_t i = 0; i < tracks.size(); ++i) {
    out[i].m__PCHAR__FileName = tracks[i].fileName.c_str();
    out[i].m__BOOLEAN__IsAudio = 1;
    out[i].m__LONG__PregapBlocks = 150;
  }
  return out;
}

}  // namespace qv::control
