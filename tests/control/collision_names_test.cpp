// The names an image gives a colliding item when the client does not.
#include <string>

#include "control/collision_names.h"
#include "support/test_support.h"

namespace {

using qv::control::RenameIsoCollision;
using qv::control::RenameJolietCollision;

TEST(CollisionNames, IsoNamesGetTheCounterBeforeTheExtension) {
  struct Case {
    const char* name;
    const char* renamed;
  } const cases[] = {
      {"README.TXT;1", "README7.TXT;1"},
      {"LONGFILENAME.TXT;1", "LONGFIL7.TXT;1"},  // a base past 8 keeps 7
      {"ABCDEFGH.TXT", "ABCDEFGH7.TXT"},          // exactly 8 stays
      {"NOEXTENSION", "NOEXTEN7"},                // no dot within reach
      {"A", "A07"},                               // padded to two characters
      {"ARCHIVE.TAR.GZ", "ARCHIVE7.GZ"},          // the last dot, the base cut to 7
  };
  for (const Case& c : cases) {
    std::atomic<unsigned> counter{7};
    EXPECT_EQ(RenameIsoCollision(c.name, counter), c.renamed) << c.name;
    EXPECT_EQ(counter.load(), 8u) << "each use counts";
  }
}

TEST(CollisionNames, JolietNamesGetTheLocalTime) {
  std::tm t{};
  t.tm_year = 106, t.tm_mon = 0, t.tm_mday = 16, t.tm_wday = 1, t.tm_hour = 3, t.tm_min = 4, t.tm_sec = 5;
  EXPECT_EQ(RenameJolietCollision(u"a.txt", t), u"a_Mon_Jan_16_03_04_05_2006_.txt");
  EXPECT_EQ(RenameJolietCollision(u"notes", t), u"notes_Mon_Jan_16_03_04_05_2006");
  EXPECT_EQ(RenameJolietCollision(u"my file.txt", t), u"my file_Mon_Jan_16_03_04_05_2006_.txt")
      << "the base keeps its blanks";
  t.tm_mday = 2;
  EXPECT_EQ(RenameJolietCollision(u"a.txt", t), u"a_Mon_Jan__2_03_04_05_2006_.txt");
}

}  // namespace
