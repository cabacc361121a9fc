// The type library inside Quorvane.ocx against the automation contract:
// every interface, member, DISPID, invoke kind, parameter type and flag,
// help string, class and enumeration value. The comparison is also run on
// deliberately altered contracts, to show that it notices.
#include <windows.h>
#include <oaidl.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "com_ptr.h"

namespace {

struct ContractMember {
  int dispid;
  std::string name, kind, params, help;
};
struct ContractInterface {
  std::string name, help;
  std::vector<ContractMember> members;
};
struct ContractClass {
  std::string name, progId, help;
  std::vector<std::string> interfaces;  // the default first
};
struct ContractEnum {
  std::string name, help;
  std::vector<std::pair<std::string, int>> values;
};

#include "typelib_contract_table.inc"

struct Contract {
  std::vector<ContractInterface> interfaces{std::begin(kContractInterfaces), std::end(kContractInterfaces)};
  std::vector<ContractClass> classes{std::begin(kContractClasses), std::end(kContractClasses)};
  std::vector<ContractEnum> enums{std::begin(kContractEnums), std::end(kContractEnums)};
};

// Name and help string of a type, or of one of its members.
std::pair<std::string, std::string> Documentation(ITypeInfo* ti, MEMBERID id) {
  BSTR name = nullptr, doc = nullptr;
  ti->GetDocumentation(id, &name, &doc, nullptr, nullptr);
  std::pair<std::string, std::string> out{Narrow(name), Narrow(doc)};
  SysFreeString(name);
  SysFreeString(doc);
  return out;
}

std::string TypeText(ITypeInfo* ti, const TYPEDESC& t) {
  switch (t.vt) {
    case VT_I2: return "short";
    case VT_UI2: return "unsigned short";
    case VT_I4: return "long";
    case VT_UI4: return "unsigned long";
    case VT_UI1: return "unsigned char";
    case VT_I8: return "64-bit";
    case VT_UI8: return "unsigned 64-bit";
    case VT_BOOL: return "VARIANT_BOOL";
    case VT_BSTR: return "BSTR";
    case VT_VARIANT: return "VARIANT";
    case VT_DISPATCH: return "IDispatch*";
    case VT_UNKNOWN: return "IUnknown*";
    case VT_HRESULT: return "HRESULT";
    case VT_PTR: return TypeText(ti, *t.lptdesc) + "*";
    case VT_CARRAY: {
      std::string s = TypeText(ti, t.lpadesc->tdescElem);
      for (USHORT d = 0; d < t.lpadesc->cDims; ++d) {
        const SAFEARRAYBOUND& b = t.lpadesc->rgbounds[d];
        s += "[" + (b.lLbound ? std::to_string(b.lLbound) + ".." : "") + std::to_string(b.cElements) + "]";
      }
      return s;
    }
    case VT_USERDEFINED: {
      ITypeInfo* ref = nullptr;
      if (FAILED(ti->GetRefTypeInfo(t.hreftype, &ref))) return "?userdefined";
      const std::string name = Documentation(ref, MEMBERID_NIL).first;
      ref->Release();
      return name;
    }
    default: return "?vt" + std::to_string(t.vt);
  }
}

std::string FlagsText(USHORT f) {
  std::vector<std::string> parts;
  if (f & PARAMFLAG_FIN) parts.push_back("in");
  if (f & PARAMFLAG_FOUT) parts.push_back("out");
  if (f & PARAMFLAG_FRETVAL) parts.push_back("retval");
  if (f & PARAMFLAG_FOPT) parts.push_back("optional");
  if (f & PARAMFLAG_FLCID) parts.push_back("lcid");
  if (f & PARAMFLAG_FHASDEFAULT) parts.push_back("defaultvalue");
  std::string s = "[";
  for (size_t i = 0; i < parts.size(); ++i) s += (i ? ", " : "") + parts[i];
  return s + "]";
}

const char* KindText(INVOKEKIND k) {
  switch (k) {
    case INVOKE_FUNC: return "method";
    case INVOKE_PROPERTYGET: return "property get";
    case INVOKE_PROPERTYPUT: return "property put";
    case INVOKE_PROPERTYPUTREF: return "property putref";
  }
  return "?";
}

// One member as the contract writes it. Parameter names come from
// GetNames, which is keyed by DISPID and answers for the first member
// holding it: a later member sharing the DISPID (a property put after its
// get) shows a caller no parameter names, written "(unnamed)".
ContractMember Render(ITypeInfo* ti, const FUNCDESC* fd, bool namesAreThis) {
  ContractMember m;
  m.dispid = fd->memid;
  std::tie(m.name, m.help) = Documentation(ti, fd->memid);
  m.kind = KindText(fd->invkind);
  BSTR names[32] = {};
  UINT count = 0;
  ti->GetNames(fd->memid, names, 32, &count);
  for (SHORT i = 0; i < fd->cParams; ++i) {
    const ELEMDESC& e = fd->lprgelemdescParam[i];
    m.params += (i ? "; " : "") + FlagsText(e.paramdesc.wParamFlags) + " " + TypeText(ti, e.tdesc) + " ";
    m.params += namesAreThis && static_cast<UINT>(i + 1) < count ? Narrow(names[i + 1]) : "(unnamed)";
  }
  if (fd->cParams == 0) m.params = "none";
  for (UINT i = 0; i < count; ++i) SysFreeString(names[i]);
  return m;
}

// What differs between the contract and the library, as "where: expected
// X, found Y" lines.
class Mismatches {
 public:
  template <class A, class B>
  void Check(const std::string& where, const A& expected, const B& actual) {
    if (!(expected == actual))
      list.push_back(where + ": expected " + ::testing::PrintToString(expected) + ", found " +
                     ::testing::PrintToString(actual));
  }
  void Add(const std::string& text) { list.push_back(text); }
  std::vector<std::string> list;
};

ITypeInfo* FindType(ITypeLib* lib, const std::string& name, TYPEKIND kind) {
  for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
    TYPEKIND k;
    ITypeInfo* ti = nullptr;
    if (FAILED(lib->GetTypeInfoType(i, &k)) || k != kind || FAILED(lib->GetTypeInfo(i, &ti))) continue;
    if (Documentation(ti, MEMBERID_NIL).first == name) return ti;
    ti->Release();
  }
  return nullptr;
}

// The type's attributes read and released at once.
TYPEATTR Attributes(ITypeInfo* ti) {
  TYPEATTR* a = nullptr;
  ti->GetTypeAttr(&a);
  const TYPEATTR copy = *a;
  ti->ReleaseTypeAttr(a);
  return copy;
}

// The name of a referenced type (implemented interface or base), and
// whether it comes from stdole2.tlb, the one library imported.
std::pair<std::string, bool> Referenced(ITypeInfo* ti, UINT index) {
  HREFTYPE h = 0;
  ITypeInfo* ref = nullptr;
  if (FAILED(ti->GetRefTypeOfImplType(index, &h)) || FAILED(ti->GetRefTypeInfo(h, &ref))) return {"(none)", false};
  constexpr GUID kStdOle = {0x00020430, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  ITypeLib* lib = nullptr;
  UINT at = 0;
  TLIBATTR* la = nullptr;
  bool stdole = false;
  if (SUCCEEDED(ref->GetContainingTypeLib(&lib, &at))) {
    lib->GetLibAttr(&la);
    stdole = IsEqualGUID(la->guid, kStdOle);
    lib->ReleaseTLibAttr(la);
    lib->Release();
  }
  const std::string name = Documentation(ref, MEMBERID_NIL).first;
  ref->Release();
  return {name, stdole};
}

constexpr WORD kInterfaceFlags = TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE;
constexpr WORD kWatchedFlags = kInterfaceFlags | TYPEFLAG_FHIDDEN | TYPEFLAG_FRESTRICTED | TYPEFLAG_FNONEXTENSIBLE;

void CompareInterface(ITypeLib* lib, const ContractInterface& c, Mismatches& out) {
  ITypeInfo* disp = FindType(lib, c.name, TKIND_DISPATCH);
  if (disp == nullptr) return out.Add(c.name + ": no dual interface of that name");
  // widl leaves oleautomation off the dispatch view of a dual interface;
  // the vtable view below carries all three flags.
  out.Check(c.name + " dispatch flags", static_cast<WORD>(TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE),
            static_cast<WORD>(Attributes(disp).wTypeFlags & (kWatchedFlags & ~TYPEFLAG_FOLEAUTOMATION)));
  out.Check(c.name + " help string", c.help, Documentation(disp, MEMBERID_NIL).second);
  HREFTYPE h = 0;
  ITypeInfo* vt = nullptr;
  const bool dual = SUCCEEDED(disp->GetRefTypeOfImplType(static_cast<UINT>(-1), &h)) &&
                    SUCCEEDED(disp->GetRefTypeInfo(h, &vt));
  disp->Release();
  if (!dual) return out.Add(c.name + ": no vtable interface behind the dispatch interface");
  const TYPEATTR va = Attributes(vt);
  out.Check(c.name + " flags", kInterfaceFlags, static_cast<WORD>(va.wTypeFlags & kWatchedFlags));
  out.Check(c.name + " base", std::make_pair(std::string("IDispatch"), true), Referenced(vt, 0));
  out.Check(c.name + " member count", c.members.size(), static_cast<size_t>(va.cFuncs));
  std::set<MEMBERID> named;
  SHORT slot = 0;  // the size of a vtable slot, from the first member
  for (size_t i = 0; i < std::min<size_t>(va.cFuncs, c.members.size()); ++i) {
    FUNCDESC* fd = nullptr;
    vt->GetFuncDesc(static_cast<UINT>(i), &fd);
    const ContractMember& want = c.members[i];
    const ContractMember got = Render(vt, fd, named.insert(fd->memid).second);
    const std::string where = c.name + "." + want.name + " (row " + std::to_string(i + 1) + ")";
    out.Check(where + " DISPID", want.dispid, got.dispid);
    out.Check(where + " name", want.name, got.name);
    out.Check(where + " kind", want.kind, got.kind);
    out.Check(where + " parameters", want.params, got.params);
    out.Check(where + " returns", std::string("HRESULT"), TypeText(vt, fd->elemdescFunc.tdesc));
    // Help strings are read by DISPID, which a property's get and put
    // share: the get's is what the library answers for both.
    if (want.kind != "property put") out.Check(where + " help string", want.help, got.help);
    // The vtable order is the row order, right after IDispatch's seven.
    if (i == 0) slot = fd->oVft / 7;
    if ((slot != 4 && slot != 8) || fd->oVft != (7 + static_cast<SHORT>(i)) * slot)
      out.Add(where + ": vtable slot out of row order");
    vt->ReleaseFuncDesc(fd);
  }
  vt->Release();
}

void CompareClass(ITypeLib* lib, const ContractClass& c, Mismatches& out) {
  ITypeInfo* ti = FindType(lib, c.name, TKIND_COCLASS);
  if (ti == nullptr) return out.Add(c.name + ": no class of that name");
  const TYPEATTR a = Attributes(ti);
  if (!(a.wTypeFlags & TYPEFLAG_FCANCREATE)) out.Add(c.name + ": not creatable");
  out.Check(c.name + " help string", c.help, Documentation(ti, MEMBERID_NIL).second);
  std::vector<std::string> interfaces;  // the default marked with a *
  for (UINT i = 0; i < a.cImplTypes; ++i) {
    INT flags = 0;
    ti->GetImplTypeFlags(i, &flags);
    interfaces.push_back(Referenced(ti, i).first + (flags & IMPLTYPEFLAG_FDEFAULT ? "*" : ""));
  }
  std::vector<std::string> expected = c.interfaces;
  if (!expected.empty()) expected[0] += "*";
  out.Check(c.name + " interfaces", expected, interfaces);
  ti->Release();
}

void CompareEnum(ITypeLib* lib, const ContractEnum& e, Mismatches& out) {
  ITypeInfo* ti = FindType(lib, e.name, TKIND_ENUM);
  if (ti == nullptr) return out.Add(e.name + ": no enumeration of that name");
  const TYPEATTR a = Attributes(ti);
  if (!IsEqualGUID(a.guid, GUID_NULL)) out.Add(e.name + ": carries a GUID");
  out.Check(e.name + " help string", e.help, Documentation(ti, MEMBERID_NIL).second);
  std::vector<std::pair<std::string, int>> values;  // a constant that is no 32-bit one reads as -1
  for (WORD i = 0; i < a.cVars; ++i) {
    VARDESC* vd = nullptr;
    ti->GetVarDesc(i, &vd);
    const bool isLong = vd->varkind == VAR_CONST && V_VT(vd->lpvarValue) == VT_I4;
    values.emplace_back(Documentation(ti, vd->memid).first, isLong ? static_cast<int>(V_I4(vd->lpvarValue)) : -1);
    ti->ReleaseVarDesc(vd);
  }
  out.Check(e.name + " constants", e.values, values);
  ti->Release();
}

std::vector<std::string> CompareContract(ITypeLib* lib, const Contract& contract) {
  Mismatches out;
  TLIBATTR* la = nullptr;
  lib->GetLibAttr(&la);
  out.Check("library version, locale and system kind", std::string("1.0 1033 1"),
            std::to_string(la->wMajorVerNum) + "." + std::to_string(la->wMinorVerNum) + " " +
                std::to_string(la->lcid) + " " + std::to_string(la->syskind));
  if (IsEqualGUID(la->guid, GUID_NULL)) out.Add("library has no LIBID");
  lib->ReleaseTLibAttr(la);
  BSTR name = nullptr, doc = nullptr, helpFile = nullptr;
  lib->GetDocumentation(-1, &name, &doc, nullptr, &helpFile);
  out.Check("library name, help string and help file", std::string("Quorvane|Quorvane OCX 1.0 Type Library|"),
            Narrow(name) + "|" + Narrow(doc) + "|" + Narrow(helpFile));
  SysFreeString(name);
  SysFreeString(doc);
  SysFreeString(helpFile);
  out.Check("type count", contract.interfaces.size() + contract.classes.size() + contract.enums.size(),
            static_cast<size_t>(lib->GetTypeInfoCount()));
  for (const auto& i : contract.interfaces) CompareInterface(lib, i, out);
  for (const auto& c : contract.classes) CompareClass(lib, c, out);
  for (const auto& e : contract.enums) CompareEnum(lib, e, out);
  return out.list;
}

std::wstring ServerPath() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring p = path;
  return p.substr(0, p.find_last_of(L'\\') + 1) + L"Quorvane.ocx";
}

class TypeLibContract : public ::testing::Test {
 protected:
  ITypeLib* lib = nullptr;
  void SetUp() override {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    ASSERT_EQ(LoadTypeLibEx(ServerPath().c_str(), REGKIND_NONE, &lib), S_OK) << "Quorvane.ocx beside the test";
  }
  void TearDown() override {
    if (lib) lib->Release();
    CoUninitialize();
  }
};

TEST_F(TypeLibContract, MatchesTheContract) {
  const auto mismatches = CompareContract(lib, Contract());
  EXPECT_THAT(mismatches, ::testing::IsEmpty()) << ::testing::PrintToString(mismatches);
}

// The module's resources: the type library as TYPELIB 1 in US English,
// and string 100. (regsvr32 under Wine runs the registration scripts.)
TEST_F(TypeLibContract, ModuleResources) {
  HMODULE module = LoadLibraryExW(ServerPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  EXPECT_NE(FindResourceExW(module, L"TYPELIB", MAKEINTRESOURCEW(1), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)),
            nullptr);
  char text[64] = {};
  EXPECT_GT(LoadStringA(module, 100, text, sizeof text), 0);
  EXPECT_STREQ(text, "QuorvaneOCX");
  FreeLibrary(module);
}

// Property puts answer with the get's help string (the library is asked
// by DISPID), so check at least that their own strings are in it.
TEST_F(TypeLibContract, EveryHelpStringIsInTheLibrary) {
  std::ifstream in(ServerPath().c_str(), std::ios::binary);
  ASSERT_TRUE(in.good());
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (const auto& i : Contract().interfaces)
    for (const auto& m : i.members) EXPECT_NE(bytes.find(m.help), std::string::npos) << i.name << "." << m.name;
}

// The comparison must notice a change in each of its parts.
struct Alteration {
  const char* name;
  std::function<void(Contract&)> apply;
  const char* expectedMention;
};

class AlteredContract : public TypeLibContract, public ::testing::WithParamInterface<Alteration> {};

TEST_P(AlteredContract, IsReported) {
  Contract c;
  GetParam().apply(c);
  const auto mismatches = CompareContract(lib, c);
  ASSERT_FALSE(mismatches.empty());
  EXPECT_THAT(mismatches, ::testing::Contains(::testing::HasSubstr(GetParam().expectedMention)));
}

INSTANTIATE_TEST_SUITE_P(
    Details, AlteredContract,
    ::testing::Values(
        Alteration{"Dispid", [](Contract& c) { c.interfaces[1].members[45].dispid = 44; },
                   "IDevice.ImportTrack (row 46) DISPID"},
        Alteration{"HelpString", [](Contract& c) { c.interfaces[9].members[1].help = "percent"; },
                   "ISimpleCallBack.Percent (row 2) help string"},
        Alteration{"InterfaceName", [](Contract& c) { c.interfaces[1].name = "IDevice2"; }, "IDevice2: no dual"},
        Alteration{"DefaultInterface",
                   [](Contract& c) { std::swap(c.classes[9].interfaces[0], c.classes[9].interfaces[1]); },
                   "CSimpleCallBack interfaces"},
        Alteration{"EnumValue", [](Contract& c) { c.enums[0].values[13].second = 15; },
                   "QVX_DISC_TYPE constants"},
        Alteration{"ExtraEnum", [](Contract& c) { c.enums.push_back({"QVX_OTHER", "", {}}); }, "type count"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
