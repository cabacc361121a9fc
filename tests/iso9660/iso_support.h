// Helpers of the ISO9660 and UDF tests: trees made through the C API, images
// read out of them, and the outside checkers with the checks no outside tool
// makes.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include <gmock/gmock.h>

#include "quorvane.h"
#include "support/test_support.h"

namespace qviso {

// A tree made through the C API; destroyed with the object. Collisions go
// to `onCollision` (when set), every callback reason is recorded.
class Tree {
 public:
  struct Options {
    bool joliet = true;
    bool longNames = false;
    bool lockFiles = false;
    bool ignoreErrors = false;
    // A UDF tree (1 pure, 2 a bridge) instead of an ISO9660 one.
    int udf = 0;
  };
  Tree();
  explicit Tree(Options options);
  ~Tree();
  Tree(const Tree&) = delete;
  Tree& operator=(const Tree&) = delete;

  QV_HANDLE handle() const { return tree_; }
  bool udf() const { return udf_; }
  QV_HANDLE root() const { return Quorvane_ISO9660JolietFileTree_GetRoot(tree_); }
  // Adds under parent (nullptr: the root); returns the node, nullptr when
  // dropped. The exception number lands in lastStatus, its text in lastText.
  QV_HANDLE Add(const std::string& path, const char* newName = nullptr, QV_HANDLE parent = nullptr) {
    return AddNode(path.c_str(), newName, parent);
  }
  QV_HANDLE AddFolder(const std::string& name, QV_HANDLE parent = nullptr) { return AddNode(nullptr, name.c_str(), parent); }
  // The El Torito boot image (SetBootImage); returns the exception number.
  uint32_t SetBoot(const std::string& path, QV_UCHAR systemType, QV_UCHAR media, QV_UCHAR sectors, bool hide);
  // Where a laid-out node starts.
  QV_ULONG Lba(QV_HANDLE node);
  // Builds at startAddress; returns the exception number.
  uint32_t Build(uint32_t startAddress = 0, const char* label = "QUORVANE");
  // The whole image, read in pieces of the given sizes (cycled).
  std::string Image(const std::vector<uint32_t>& chunks = {1u << 20});
  // Writes the image to a file and returns its path.
  std::string WriteImage(const qvtest::TempDir& dir, const std::string& name = "image.iso");
  // The ISO9660 names of node's children (the root's by default).
  std::vector<std::string> Kids(QV_HANDLE node = nullptr);

  // The ISO9660 and Joliet names of a node.
  std::string IsoName(QV_HANDLE node) const;
  std::u16string JolietName(QV_HANDLE node) const;

  uint32_t lastStatus = 0;
  std::string lastText;
  std::function<void(QUORVANE_NAME_COLLISION&)> onCollision;
  // Each collision record as the callback left it, and its default.
  std::vector<QUORVANE_NAME_COLLISION> collisions;
  std::vector<uint32_t> defaults;
  std::vector<std::pair<uint32_t, std::string>> events;

 private:
  QV_HANDLE AddNode(const char* path, const char* newName, QV_HANDLE parent);
  static void QUORVANE_CALL Callback(QV_ULONG reason, void* context, void* parameter1, void* parameter2);
  QV_HANDLE tree_ = nullptr;
  bool udf_ = false;
  std::deque<std::string> paths_;
};

// A collision record's name (ASCII in these tests), and an answer to it:
// the solution and, when given, the new name in the record's width.
std::string RecordName(const QUORVANE_NAME_COLLISION& r);
void Answer(QUORVANE_NAME_COLLISION& r, uint32_t solution, const std::string& name = "");

// The outside checkers (pycdlib, xorriso, 7z, bsdtar in both modes,
// isovfy) and our own structure checks on an image whose tree is walked
// through the C API for the names and sources they must extract. Empty
// when all agree, else what went wrong. With bootHidden the boot image has
// no record to show.
std::string OutsideProblems(Tree& tree, const std::string& image, bool boot = false, bool bootHidden = false);
// True when every outside checker is installed (CI installs them all).
bool HaveOutsideCheckers();

// What the outside checkers miss in the image file at path (oracles.py
// --structure): records out of ECMA-119 order or repeated, and path tables
// that disagree with the directories. Empty when there is nothing.
std::string StructureProblems(const std::string& path);

// udfinfo, "7z t -tudf" and "7z x -tudf" on a UDF image; the extraction is
// compared with folder byte for byte, names and empty folders included.
// Empty when all agree, else what went wrong.
std::string UdfProblems(const std::string& image, const std::string& folder);

// Little-endian numbers at a byte offset of an image.
uint32_t LE32(const std::string& image, size_t at);
uint16_t LE16(const std::string& image, size_t at);

// Engine started for the whole test program.
void StartEngine();

}  // namespace qviso

// Skips the test when an outside checker is missing, or fails it where the
// outside programs are required.
#define QVISO_REQUIRE_OUTSIDE_CHECKERS()                                                          \
  do {                                                                                            \
    if (!qviso::HaveOutsideCheckers()) {                                                          \
      if (qvtest::ProgramsRequired()) FAIL() << "an outside checker is not installed";            \
      GTEST_SKIP() << "the outside checkers are not installed";                                   \
    }                                                                                             \
  } while (0)
