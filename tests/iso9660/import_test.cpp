// Import of an earlier session from image files: damaged or hostile
// hierarchies lose only what is damaged, told through the callback. (What
// readers see of a session after an import: IsoCli.ASessionFollowsImagesOfOtherTools.)
#include <functional>
#include <set>

#include "iso_support.h"

namespace {

using qviso::LE32;
using qviso::Tree;

void PutLE32(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}

// The byte offset of the record named id (ISO9660 identifier) in the
// directory at extent, searched in its first block.
size_t RecordAt(const std::string& image, uint32_t extent, const std::string& id) {
  for (size_t at = size_t{extent} * 2048; at < size_t{extent} * 2048 + 2048 && image[at] != 0;
       at += static_cast<uint8_t>(image[at]))
    if (image.compare(at + 33, static_cast<uint8_t>(image[at + 32]), id) == 0) return at;
  ADD_FAILURE() << "no record " << id;
  return 0;
}

class Import : public ::testing::Test {
 protected:
  // A plain ISO9660 image: A.TXT, EMPTY.TXT, SUB/B.TXT, SUB/DEEP/C.TXT.
  // EMPTY.TXT is at extent 0, as some writers record empty files.
  std::string Original() {
    Tree t({.joliet = false});
    t.Add(dir.Write("src/a.txt", "alpha").string());
    t.Add(dir.Write("src/empty.txt", "").string());
    dir.Write("src/sub/b.txt", std::string(5000, 'b'));
    dir.Write("src/sub/deep/c.txt", "gamma");
    t.Add((dir / "src/sub").string());
    EXPECT_EQ(t.Build(), 0u);
    std::string image = t.Image();
    PutLE32(image, RecordAt(image, LE32(image, 16 * 2048 + 158), "EMPTY.TXT;1") + 2, 0);
    return image;
  }
  std::string Save(const std::string& image, const std::string& name = "old.iso") { return dir.Write(name, image).string(); }
  // Imports file into tree; the status, the paths of the callback's skips.
  uint32_t Run(Tree& tree, const std::string& file, bool joliet, std::vector<std::string>* skipped = nullptr) {
    char text[QUORVANE_EXCEPTION_TEXT_SIZE] = {};
    QV_ULONG system = 0;
    const uint32_t n =
        Quorvane_ISO9660JolietFileTree_ImportFile(nullptr, tree.handle(), file.c_str(), joliet, text, sizeof text, &system);
    tree.lastText = text;
    for (const auto& [reason, name] : tree.events)
      if (reason == CN_FILE_TREE_NODE_SKIPPED && skipped) skipped->push_back(name);
    return n;
  }
  // "/"-separated long names of every node.
  static std::set<std::string> Nodes(Tree& t, QV_HANDLE node = nullptr, const std::string& path = "") {
    std::set<std::string> out;
    for (QV_HANDLE k = Quorvane_ISO9660JolietFileTree_GetFirstKid(t.handle(), node ? node : t.root()); k;
         k = Quorvane_ISO9660JolietFileTree_GetNextKid(t.handle(), k)) {
      char name[260] = {};
      Quorvane_ISO9660JolietFileTree_GetNames(t.handle(), k, nullptr, name, nullptr);
      out.insert(path + "/" + name);
      out.merge(Nodes(t, k, path + "/" + name));
    }
    return out;
  }
  qvtest::TempDir dir;
};

// Each damage loses the entry it touches, told with its path; the rest
// of the hierarchy comes in. One row per kind of entry lost: a folder, a
// file, a name (fuzz_iso9660_import feeds the other damages).
TEST_F(Import, HostileRecordsAreLeftOutAndTold) {
  const std::string original = Original();
  const uint32_t root = LE32(original, 16 * 2048 + 158);
  const size_t aAt = RecordAt(original, root, "A.TXT;1"), subAt = RecordAt(original, root, "SUB");
  const struct {
    const char* what;
    std::function<void(std::string&)> damage;
    const char* skipped;  // the path told, after the prefix
    const char* gone;     // the node missing afterwards
  } cases[] = {
      {"a folder pointing back at the root", [&](std::string& s) { PutLE32(s, subAt + 2, root); }, "/SUB", "/SUB/B.TXT"},
      {"data past the end", [&](std::string& s) { PutLE32(s, aAt + 2, 0x7FFFFFF0); }, "/A.TXT", "/A.TXT"},
      {"a name with a slash", [&](std::string& s) { s[aAt + 34] = '/'; }, "/A/TXT;1", "/A.TXT"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string image = original;
    c.damage(image);
    Tree t;
    std::vector<std::string> skipped;
    ASSERT_EQ(Run(t, Save(image), false, &skipped), 0u) << t.lastText;
    const auto nodes = Nodes(t);
    EXPECT_EQ(nodes.count(c.gone), 0u);
    EXPECT_TRUE(nodes.count("/EMPTY.TXT")) << "the rest comes in";
    ASSERT_EQ(skipped.size(), 1u);
    EXPECT_EQ(skipped[0], "ImportingFile( " + (dir / "old.iso").string() + " ):" + c.skipped);
    // What came in builds into a session.
    EXPECT_EQ(t.Build(static_cast<uint32_t>(image.size() / 2048)), 0u) << t.lastText;
  }
}

TEST_F(Import, MissingDescriptorsAndFilesAreRefused) {
  const std::string old = Save(Original());
  Tree t;
  EXPECT_EQ(Run(t, old, true), 2u);  // no Joliet descriptor in a plain image
  EXPECT_NE(t.lastText.find("Volume descriptor was not found!"), std::string::npos) << t.lastText;
  EXPECT_EQ(Run(t, Save(std::string(17 * 2048, '\0'), "short.iso"), false), 5u);
  EXPECT_EQ(Run(t, (dir / "missing.iso").string(), false), 5u);
  EXPECT_EQ(Quorvane_ISO9660JolietFileTree_GetRoot(t.handle()), nullptr) << "nothing came in";
}

// A new file of an imported one's name meets it in the collision
// callback, which sees the imported path.
TEST_F(Import, NewFilesCollideWithImportedOnes) {
  const std::string old = Save(Original());
  Tree t;
  ASSERT_EQ(Run(t, old, false), 0u) << t.lastText;
  t.onCollision = [](QUORVANE_NAME_COLLISION& c) { c.m__ULONG__Solution = QVX_NAME_COLLISION_REPLACE_OLD; };
  t.Add(dir.Write("new/a.txt", "replaced").string());
  ASSERT_FALSE(t.collisions.empty());
  EXPECT_EQ(std::string(t.collisions[0].m__PCHAR__ExistingPath), "ImportingFile( " + old + " ):/A.TXT");
  EXPECT_EQ(Nodes(t).count("/A.TXT"), 0u);
}

}  // namespace
