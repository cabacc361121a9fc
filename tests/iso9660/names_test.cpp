// Names as the image stores them, and the order of records.
#include "core/exception.h"
#include "iso9660/iso9660_names.h"
#include "iso9660/iso9660_tree.h"
#include "iso_support.h"

namespace {

std::string BigEndian(const std::u16string& units) { return QuorvaneI_BigEndianUnits(units); }

TEST(IsoNames, IdentifiersHoldDCharactersOnly) {
  struct Case {
    const char* name;
    bool folder;
    size_t max;
    bool version;
    const char* id;
  } cases[] = {
      {"README", false, 31, true, "README.;1"},           // separator 1 is always there
      {"my file-1.tar.gz", false, 31, true, "MY_FILE_1_TAR.GZ;1"},  // one '.', the last
      {"...", false, 31, true, "__.;1"},
      {"sub.dir", true, 31, false, "SUB_DIR"},             // no '.' in folder names
      {"\xC3\xA4pfel", false, 12, true, "_PFEL.;1"},        // one '_' per character, not per byte
      {"\xFF\xFE", true, 12, false, "__"},                 // stray bytes are characters too
      {"a-very-long-name-of-forty-characters.doc", false, 31, false, "A_VERY_LONG_NAME_OF_FORTY_CHAR."},
      {"", true, 12, false, "_"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(QuorvaneI_ISO9660Identifier(c.name, c.folder, c.max, c.version), c.id) << c.name;
}

TEST(IsoNames, JolietNamesKeepCaseAndMapWhatJolietForbids) {
  struct Case {
    const char* longName;
    bool folder;
    std::u16string units;
  } cases[] = {
      {"Read Me.txt", false, u"Read Me.txt;1"},
      {"a;b?*:\\\x01.txt", false, u"a_b_____.txt;1"},  // only the version's ';' stays
      {"\xC3\xA4\xE2\x82\xAC.txt", false, u"\u00E4\u20AC.txt;1"},
      {"smile\xF0\x9F\x98\x80.txt", false, u"smile_.txt;1"},  // outside the BMP: one '_'
  };
  for (const Case& c : cases) EXPECT_EQ(QuorvaneI_JolietName(c.longName, c.folder), BigEndian(c.units)) << c.longName;

  const std::string name107(107, 'n');
  EXPECT_EQ(QuorvaneI_JolietName(name107.c_str(), false).size(), 206u) << "cut to 103 units with ;1";
  EXPECT_EQ(QuorvaneI_JolietName(name107.c_str(), true).size(), 206u) << "a folder: 103 units";
  // A long name keeps its extension and version; the base name is cut.
  EXPECT_EQ(QuorvaneI_JolietName((std::string(100, 'b') + ".txt").c_str(), false),
            BigEndian(std::u16string(97, u'b') + u".txt;1"));
  const struct {
    std::string name;
    uint32_t number, system;
    const char* text;
  } refused[] = {{std::string(108, 'n'), 2, 0, "== 108 exceeds (>=) 108"}, {"bad\xC3", 5, 1113, ""}};
  for (const auto& r : refused) {
    try {
      QuorvaneI_JolietName(r.name.c_str(), false);
      ADD_FAILURE() << r.name << " accepted";
    } catch (CQuorvane_Exception* e) {
      QuorvaneI_Caught owner(e);
      EXPECT_EQ(e->Number(), r.number);
      EXPECT_EQ(e->SystemError(), r.system);
      EXPECT_THAT(e->Text(), testing::HasSubstr(r.text));
    }
  }
}

// The ECMA-119 order of records is checked in every built image by
// StructureProblems (Oracles.*: a byte-order sort fails there). Joliet's is
// by code value: U+0100 after U+00FF, which a byte-swapped reading reverses.
TEST(IsoNames, JolietRecordOrderIsByCodeValue) {
  EXPECT_LT(QuorvaneI_JolietCompare(BigEndian(u"\u00FF;1"), BigEndian(u"\u0100;1")), 0);
  EXPECT_LT(QuorvaneI_JolietCompare(BigEndian(u"B;1"), BigEndian(u"b;1")), 0) << "'B' sorts first";
  EXPECT_LT(QuorvaneI_JolietCompare(BigEndian(u"a.b;1"), BigEndian(u"a.b1;1")), 0);
}

TEST(IsoNames, TreeNamesFromShortAndLongNames) {
  qvtest::TempDir dir;
  qvtest::VirtualTime time;
  const auto file = dir.Write("Quarterly report 2023.xlsx", "q");
  for (const auto& [longNames, iso] : {std::pair{false, "QUARTERLY_RE.;1"}, std::pair{true, "QUARTERLY_REPORT_2023.XLSX"}}) {
    qviso::Tree tree({.longNames = longNames});
    QV_HANDLE node = tree.Add(file.string());
    ASSERT_NE(node, nullptr) << tree.lastText;
    EXPECT_EQ(tree.IsoName(node), iso);
    EXPECT_EQ(tree.JolietName(node), u"Quarterly report 2023.xlsx;1");
    // A rename makes both names anew.
    ASSERT_EQ(Quorvane_ISO9660JolietFileTree_SetNames(tree.handle(), node, "renamed file.txt", "renamed.txt"), 0u);
    EXPECT_EQ(tree.IsoName(node), longNames ? "RENAMED_FILE.TXT" : "RENAMED.TXT;1");
    EXPECT_EQ(tree.JolietName(node), u"renamed file.txt;1");
    const std::string tooLong(108, 'r');
    EXPECT_EQ(Quorvane_ISO9660JolietFileTree_SetNames(tree.handle(), node, tooLong.c_str(), "r"), 2u);
    EXPECT_EQ(tree.JolietName(node), u"renamed file.txt;1") << "a refused rename changes nothing";
  }
}

}  // namespace
