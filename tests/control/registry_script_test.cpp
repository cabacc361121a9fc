// Registration scripts applied to a registry kept in memory: the server's
// own scripts, removal, and scripts that are wrong.
#include <map>
#include <set>
#include <string>
#include <vector>

#include "control/registry_script.h"
#include "support/test_support.h"

namespace {

using qv::control::ApplyRegistryScript;
using qv::control::ScriptAction;

class FakeRegistry : public qv::control::RegistryWriter {
 public:
  // "HKCR\path" -> value name ("" default) -> text.
  std::map<std::string, std::map<std::string, std::string>> keys;
  std::set<std::string> failing;  // full paths whose writes fail with 5
  std::vector<std::string> calls;

  uint32_t CreateKey(const std::string& root, const std::string& path) override {
    calls.push_back("create " + path);
    if (failing.count(root + "\\" + path)) return 5;
    // Like RegCreateKeyEx: missing parents come into being.
    for (size_t pos = path.find('\\'); pos != std::string::npos; pos = path.find('\\', pos + 1))
      keys[root + "\\" + path.substr(0, pos)];
    keys[root + "\\" + path];
    return 0;
  }
  uint32_t SetString(const std::string& root, const std::string& path, const std::string& name,
                     const std::string& value) override {
    if (uint32_t e = CreateKey(root, path)) return e;
    keys[root + "\\" + path][name] = value;
    return 0;
  }
  uint32_t SetNumber(const std::string& root, const std::string& path, const std::string& name,
                     uint32_t value) override {
    if (uint32_t e = CreateKey(root, path)) return e;
    keys[root + "\\" + path][name] = "dword:" + std::to_string(value);
    return 0;
  }
  uint32_t DeleteTree(const std::string& root, const std::string& path) override {
    const std::string full = root + "\\" + path;
    calls.push_back("delete " + path);
    if (failing.count(full)) return 5;
    for (auto it = keys.begin(); it != keys.end();) {
      if (it->first == full || it->first.rfind(full + "\\", 0) == 0)
        it = keys.erase(it);
      else
        ++it;
    }
    return 0;
  }
  // Every key and value as "path" or "path|name=value", sorted.
  std::vector<std::string> Dump() const {
    std::vector<std::string> out;
    for (const auto& [path, values] : keys) {
      out.push_back(path);
      for (const auto& [name, value] : values) out.push_back(path + "|" + name + "=" + value);
    }
    return out;
  }
};

std::string Script(const char* name) {
  return qvtest::ReadFile(std::string(qvtest::SourceDir()) + "/control/win32/" + name);
}

const char* kClsid = "{CB735A95-117D-4799-B67D-AE177BC8C9FB}";
const char* kLibid = "{553B8CD4-023B-4F0E-92F2-D99822581E63}";

std::map<std::string, std::string> Substitutions(const std::string& module = "C:\\Program Files\\Quorvane.ocx") {
  return {{"MODULE", module},  {"MODULETYPE", "InprocServer32"}, {"APPID", ""},
          {"MODULEGUID", kLibid}, {"CLSID", kClsid},                {"PROGID", "Quorvane.DiscInfo.1"},
          {"VIPROGID", "Quorvane.DiscInfo"}, {"FriendlyName", "CDiscInfo Object"}};
}

class ServerScripts : public ::testing::Test {
 protected:
  FakeRegistry registry;
  void Apply(const char* script, ScriptAction action, const std::map<std::string, std::string>& subs) {
    std::string error;
    ASSERT_EQ(ApplyRegistryScript(Script(script), subs, action, registry, &error), 0u) << error;
    EXPECT_EQ(error, "");
  }
};

TEST_F(ServerScripts, ForceRemoveClearsWhatAnEarlierVersionLeft) {
  const std::string c = std::string("HKCR\\CLSID\\") + kClsid;
  registry.keys[c + "\\LocalServer32"][""] = "old.exe";
  registry.keys[c + "\\Programmable\\Stale"];
  Apply("class.rgs", ScriptAction::Register, Substitutions());
  EXPECT_EQ(registry.keys.count(c + "\\LocalServer32"), 0u);
  EXPECT_EQ(registry.keys.count(c + "\\Programmable\\Stale"), 0u);
  EXPECT_EQ(registry.keys.count(c + "\\Programmable"), 1u);
}

// Replacements are made after the script is read: a module path with
// quotes or percent signs goes in as it is.
TEST_F(ServerScripts, ModulePathsAreTakenLiterally) {
  const std::string odd = "C:\\it's 100%MODULE% done\\{x}\\Quorvane.ocx";
  Apply("class.rgs", ScriptAction::Register, Substitutions(odd));
  EXPECT_EQ(registry.keys[std::string("HKCR\\CLSID\\") + kClsid + "\\InprocServer32"][""], odd);
}

struct BadScript {
  const char* name;
  const char* text;
  const char* reason;
};

class BrokenScripts : public ::testing::TestWithParam<BadScript> {};

TEST_P(BrokenScripts, ChangeNothingAndSayWhy) {
  FakeRegistry registry;
  std::string error;
  const std::map<std::string, std::string> subs = {{"KNOWN", "k"}};
  for (auto action : {ScriptAction::Register, ScriptAction::Unregister}) {
    EXPECT_EQ(ApplyRegistryScript(GetParam().text, subs, action, registry, &error), 13u);
    EXPECT_NE(error.find(GetParam().reason), std::string::npos) << error;
  }
  EXPECT_TRUE(registry.calls.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, BrokenScripts,
    ::testing::Values(BadScript{"UnterminatedQuote", "HKCR { A = s 'open }", "unterminated quote on line 1"},
                      BadScript{"MissingBrace", "HKCR\n{\n  A\n  {\n    B\n}\n", "expected '}' on line 6 at the end"},
                      BadScript{"UnknownReplacement", "HKCR { %NOPE% }", "unknown replacement %NOPE% on line 1"},
                      BadScript{"NumberThatIsNot", "HKCR { A { val N = d 'ten' } }", "'ten' is not a number"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RegistryScripts, NumbersNestingAndDeletion) {
  FakeRegistry registry;
  registry.keys["HKCU\\Old\\Inner"];
  const std::string script =
      "HKCU\n{\n  Delete Old\n  Top = s 'a' { Mid { val Count = d '0x10' val Text = s 'it''s' Leaf } }\n}\n";
  ASSERT_EQ(ApplyRegistryScript(script, {}, ScriptAction::Register, registry), 0u);
  EXPECT_EQ(registry.keys.count("HKCU\\Old"), 0u);
  EXPECT_EQ(registry.keys.count("HKCU\\Old\\Inner"), 0u);
  EXPECT_EQ(registry.keys["HKCU\\Top"][""], "a");
  EXPECT_EQ(registry.keys["HKCU\\Top\\Mid"]["Count"], "dword:16");
  EXPECT_EQ(registry.keys["HKCU\\Top\\Mid"]["Text"], "it's");
  EXPECT_EQ(registry.keys.count("HKCU\\Top\\Mid\\Leaf"), 1u);
  // Removal leaves a Delete key alone (it is gone already) and takes Top.
  registry.keys["HKCU\\Old"];
  ASSERT_EQ(ApplyRegistryScript(script, {}, ScriptAction::Unregister, registry), 0u);
  EXPECT_EQ(registry.keys.count("HKCU\\Old"), 1u);
  EXPECT_EQ(registry.keys.count("HKCU\\Top"), 0u);
}

// Registering stops at the first refusal; removing goes on and reports it.
TEST(RegistryScripts, WriterFailures) {
  const std::string script = "HKCR { A = s '1' B = s '2' C = s '3' }";
  FakeRegistry registry;
  registry.failing.insert("HKCR\\B");
  EXPECT_EQ(ApplyRegistryScript(script, {}, ScriptAction::Register, registry), 5u);
  EXPECT_EQ(registry.keys.count("HKCR\\A"), 1u);
  EXPECT_EQ(registry.keys.count("HKCR\\C"), 0u);
  registry.keys["HKCR\\C"];
  EXPECT_EQ(ApplyRegistryScript(script, {}, ScriptAction::Unregister, registry), 5u);
  EXPECT_EQ(registry.keys.count("HKCR\\A"), 0u);
  EXPECT_EQ(registry.keys.count("HKCR\\C"), 0u);
}

}  // namespace
