// What burn and image iso share: the folders and files a user names,
// mastered into an ISO9660/Joliet tree. Nothing is left out or changed
// without a word: names that clash are renamed and each rename is told,
// entries that cannot go on a disc are told, and so is every file that
// changes while it is read (the command then ends with kExitDiffers).
#pragma once
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "common.h"

namespace qvcli {

class Mastering {
 public:
  // verb prefixes the messages ("burn", "image iso").
  explicit Mastering(std::string verb);
  ~Mastering();
  Mastering(const Mastering&) = delete;
  Mastering& operator=(const Mastering&) = delete;

  // Each returns 0 or the exit code, having said why.
  int Create(bool joliet);
  // A UDF tree instead (with bridge, an ISO9660 hierarchy beside UDF).
  int CreateUdf(bool bridge);
  // Each folder's contents and each file at the root of the image.
  int Add(const std::vector<std::string>& paths);
  // The folders and files of an earlier session, at their old places: a
  // data track of the disc in drive, or an image file. Joliet names where
  // the session has them, else the ISO 9660 ones.
  int ImportTrack(QV_HANDLE drive, QV_UCHAR track);
  int ImportFile(const std::string& image);
  // Drops a folder or file ("/"-separated, as ls shows it) from the tree.
  int Remove(const std::string& path);
  // A new file of an imported one's name takes its place; without this
  // such a clash is refused, since the old one would silently vanish.
  void SetReplace(bool replace) { replace_ = replace; }
  // The imported files new ones replaced.
  const std::vector<std::string>& replaced() const { return replaced_; }
  // An image has a root even when the paths held nothing but empty folders.
  int EnsureRoot();
  // The exit code for a failed engine call, said as the command says it.
  int Fail(const std::string& what, uint32_t number, const char* text, uint32_t systemError) const;

  QV_HANDLE tree() const { return tree_; }
  // Stops an addition running on another thread.
  void Cancel() const;
  // What was renamed: [{"path", "name", "tree": "iso9660"|"joliet"}],
  // made when asked, since only a JSON answer needs it.
  nlohmann::json renames() const;
  size_t renamed() const { return renames_.size(); }
  // The files that changed while they were read; safe from any thread.
  std::vector<std::string> changed() const;
  // rc, or kExitDiffers when it is 0 and a file changed.
  int Finish(int rc) const;

  // The tree's callback and the grabber's report of a changed file.
  void OnTreeEvent(QV_ULONG reason, void* parameter);
  void OnChanged(const char* path);

 private:
  void Rename(QUORVANE_NAME_COLLISION* record);
  void TellRename(const std::string& path, const std::string& name, bool joliet, const std::string& existing);
  void FlushNotes();
  int Import(const std::function<uint32_t(QV_BOOLEAN joliet, CallStatus& s)>& import, const std::string& what);

  struct RenameNote {
    std::string path, name;
    bool joliet;
  };

  std::string verb_;
  QV_HANDLE tree_ = nullptr;
  std::map<std::string, unsigned> next_;  // per clashing name, the next number to try
  std::vector<RenameNote> renames_;
  // Rename lines waiting to be written: while Add runs they go out in
  // large pieces, since a folder of alike names renames nearly every file.
  std::string notes_;
  bool batching_ = false;
  mutable std::mutex changedLock_;
  std::vector<std::string> changed_;
  SkipNotes skips_;  // told once the additions went through
  bool importing_ = false;
  bool replace_ = false;
  std::vector<std::string> importSkips_, replaced_, clashes_;
};

}  // namespace qvcli
