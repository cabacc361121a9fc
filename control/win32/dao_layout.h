// CDAOLayout: the description of a disc-at-once audio layout that clients
// fill and query: tracks with optional CD-Text, and the disc's CD-Text.
#pragma once
#include <mutex>
#include <string>
#include <vector>

#include "control/win32/com_object.h"
#include "quorvane.h"

namespace qv::control {

struct DaoTrack {
  std::string fileName;
  std::string artist;  // CD-Text performer, empty when not given
  std::string title;   // CD-Text title, empty when not given
};

class CDAOLayout : public ComObject<CDAOLayout, IDAOLayout> {
 public:
  static const CLSID& ClassId() { return CLSID_CDAOLayout; }

  HRESULT STDMETHODCALLTYPE AddTrack(BSTR fileName, VARIANT artist, VARIANT title) override;
  HRESULT STDMETHODCALLTYPE AddCDTextInfo(BSTR artist, BSTR album) override;
  HRESULT STDMETHODCALLTYPE get_TrackCount(ULONG* value) override;

  // What the layout holds, for the code that records it.
  std::vector<DaoTrack> Tracks() const;
  std::string DiscArtist() const;
  std::string DiscAlbum() const;

 private:
  mutable std::mutex mutex_;
  std::vector<DaoTrack> tracks_;
  std::string artist_, album_;
};

// The layout as the engine's session-at-once entry point takes it: one
// audio track per file, each after a two-second pause. The file names stay
// owned by tracks, which must outlive the result.
std::vector<QUORVANE_SAO_TRACK> SaoTracksOf(const std::vector<DaoTrack>& tracks);

}  // namespace qv::control
