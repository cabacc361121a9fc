// The type library inside Quorvane.ocx against the automation contract:
// every interface, member, DISPID, invoke kind, parameter type and flag,
// help string, class and enumeration value. The comparison is also run on
// deliberately altered contracts, to show that it notices.
#include <windows.h>
#include <oaidl.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

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

std::string Narrow(const wchar_t* w) {
  if (w == nullptr) return {};
  std::string s;
  for (; *w; ++w) s += static_cast<char>(*w < 128 ? *w : '?');
  return s;
}

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
  auto [name, help] = Documentation(ti, fd->memid);
  m.name = name;
  m.kind = KindText(fd->invkind);
  BSTR names[32] = {};
  UINT count = 0;
  ti->GetNames(fd->memid, names, 32, &count);
  for (SHORT i = 0; i < fd->cParams; ++i) {
    const ELEMDESC& e = fd->lprgelemdescParam[i];
    if (i) m.params += "; ";
    m.params += FlagsText(e.paramdesc.wParamFlags) + " " + TypeText(ti, e.tdesc) + " ";
    m.params += namesAreThis && static_cast<UINT>(i + 1) < count ? Narrow(names[i + 1]) : "(unnamed)";
  }
  if (fd->cParams == 0) m.params = "none";
  for (UINT i = 0; i < count; ++i) SysFreeString(names[i]);
  m.help = help;
  return m;
}

class Mismatches {
 public:
  template <class A, class B>
  void Check(const std::string& where, const A& expected, const B& actual) {
    if (!(expected == actual)) {
      std::ostringstream s;
      s << where << ": expected " << ::testing::PrintToString(expected) << ", found "
        << ::testing::PrintToString(actual);
      list_.push_back(s.str());
    }
  }
  void Add(const std::string& text) { list_.push_back(text); }
  const std::vector<std::string>& List() const { return list_; }

 private:
  std::vector<std::string> list_;
};

ITypeInfo* FindType(ITypeLib* lib, const std::string& name, TYPEKIND kind) {
  for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
    TYPEKIND k;
    if (FAILED(lib->GetTypeInfoType(i, &k)) || k != kind) continue;
    ITypeInfo* ti = nullptr;
    if (FAILED(lib->GetTypeInfo(i, &ti))) continue;
    if (Documentation(ti, MEMBERID_NIL).first == name) return ti;
    ti->Release();
  }
  return nullptr;
}

constexpr WORD kInterfaceFlags = TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDISPATCHABLE;
constexpr WORD kWatchedFlags = kInterfaceFlags | TYPEFLAG_FHIDDEN | TYPEFLAG_FRESTRICTED | TYPEFLAG_FNONEXTENSIBLE;
// stdole2.tlb, the one library imported.
constexpr GUID kStdOle = {0x00020430, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

void CompareInterface(ITypeLib* lib, const ContractInterface& c, Mismatches& out) {
  ITypeInfo* disp = FindType(lib, c.name, TKIND_DISPATCH);
  if (disp == nullptr) return out.Add(c.name + ": no dual interface of that name");
  TYPEATTR* a = nullptr;
  disp->GetTypeAttr(&a);
  // widl leaves oleautomation off the dispatch view of a dual interface;
  // the vtable view below carries all three flags.
  out.Check(c.name + " dispatch flags", static_cast<WORD>(TYPEFLAG_FDUAL | TYPEFLAG_FDISPATCHABLE),
            static_cast<WORD>(a->wTypeFlags & (kWatchedFlags & ~TYPEFLAG_FOLEAUTOMATION)));
  out.Check(c.name + " help string", c.help, Documentation(disp, MEMBERID_NIL).second);
  disp->ReleaseTypeAttr(a);

  // The vtable view: the interface itself, derived from stdole's IDispatch.
  HREFTYPE h = 0;
  ITypeInfo* vt = nullptr;
  if (FAILED(disp->GetRefTypeOfImplType(static_cast<UINT>(-1), &h)) || FAILED(disp->GetRefTypeInfo(h, &vt))) {
    disp->Release();
    return out.Add(c.name + ": no vtable interface behind the dispatch interface");
  }
  disp->Release();
  TYPEATTR* va = nullptr;
  vt->GetTypeAttr(&va);
  const WORD funcs = va->cFuncs;
  out.Check(c.name + " flags", kInterfaceFlags, static_cast<WORD>(va->wTypeFlags & kWatchedFlags));
  vt->ReleaseTypeAttr(va);
  HREFTYPE baseRef = 0;
  ITypeInfo* base = nullptr;
  ITypeLib* baseLib = nullptr;
  UINT baseIndex = 0;
  if (SUCCEEDED(vt->GetRefTypeOfImplType(0, &baseRef)) && SUCCEEDED(vt->GetRefTypeInfo(baseRef, &base))) {
    out.Check(c.name + " base", std::string("IDispatch"), Documentation(base, MEMBERID_NIL).first);
    if (SUCCEEDED(base->GetContainingTypeLib(&baseLib, &baseIndex))) {
      TLIBATTR* la = nullptr;
      baseLib->GetLibAttr(&la);
      if (!IsEqualGUID(la->guid, kStdOle)) out.Add(c.name + ": IDispatch does not come from stdole2.tlb");
      baseLib->ReleaseTLibAttr(la);
      baseLib->Release();
    }
    base->Release();
  } else {
    out.Add(c.name + ": no base interface");
  }

  out.Check(c.name + " member count", c.members.size(), static_cast<size_t>(funcs));
  const size_t n = std::min<size_t>(funcs, c.members.size());
  SHORT previousSlot = -1, step = 0;
  for (size_t i = 0; i < n; ++i) {
    FUNCDESC* fd = nullptr;
    vt->GetFuncDesc(static_cast<UINT>(i), &fd);
    const ContractMember& want = c.members[i];
    bool namesAreThis = true;
    for (size_t j = 0; j < i && namesAreThis; ++j) {
      FUNCDESC* earlier = nullptr;
      vt->GetFuncDesc(static_cast<UINT>(j), &earlier);
      namesAreThis = earlier->memid != fd->memid;
      vt->ReleaseFuncDesc(earlier);
    }
    const ContractMember got = Render(vt, fd, namesAreThis);
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
    if (i == 1) step = static_cast<SHORT>(fd->oVft - previousSlot);
    if (i == 0) {
      if (fd->oVft != 7 * 4 && fd->oVft != 7 * 8) out.Add(where + ": does not follow the seven IDispatch slots");
    } else if (fd->oVft - previousSlot != step || step <= 0) {
      out.Add(where + ": vtable slot out of row order");
    }
    previousSlot = fd->oVft;
    vt->ReleaseFuncDesc(fd);
  }
  vt->Release();
}

}  // namespace

namespace {

void CompareClass(ITypeLib* lib, const ContractClass& c, Mismatches& out) {
  ITypeInfo* ti = FindType(lib, c.name, TKIND_COCLASS);
  if (ti == nullptr) return out.Add(c.name + ": no class of that name");
  TYPEATTR* a = nullptr;
  ti->GetTypeAttr(&a);
  if (!(a->wTypeFlags & TYPEFLAG_FCANCREATE)) out.Add(c.name + ": not creatable");
  out.Check(c.name + " interface count", c.interfaces.size(), static_cast<size_t>(a->cImplTypes));
  const size_t n = std::min<size_t>(a->cImplTypes, c.interfaces.size());
  ti->ReleaseTypeAttr(a);
  out.Check(c.name + " help string", c.help, Documentation(ti, MEMBERID_NIL).second);
  for (size_t i = 0; i < n; ++i) {
    HREFTYPE h = 0;
    ITypeInfo* itf = nullptr;
    INT flags = 0;
    ti->GetImplTypeFlags(static_cast<UINT>(i), &flags);
    if (SUCCEEDED(ti->GetRefTypeOfImplType(static_cast<UINT>(i), &h)) && SUCCEEDED(ti->GetRefTypeInfo(h, &itf))) {
      out.Check(c.name + " interface " + std::to_string(i + 1), c.interfaces[i], Documentation(itf, MEMBERID_NIL).first);
      itf->Release();
    }
    out.Check(c.name + " interface " + std::to_string(i + 1) + " is default", i == 0,
              (flags & IMPLTYPEFLAG_FDEFAULT) != 0);
  }
  ti->Release();
}

void CompareEnum(ITypeLib* lib, const ContractEnum& e, Mismatches& out) {
  ITypeInfo* ti = FindType(lib, e.name, TKIND_ENUM);
  if (ti == nullptr) return out.Add(e.name + ": no enumeration of that name");
  TYPEATTR* a = nullptr;
  ti->GetTypeAttr(&a);
  if (!IsEqualGUID(a->guid, GUID_NULL)) out.Add(e.name + ": carries a GUID");
  const WORD vars = a->cVars;
  ti->ReleaseTypeAttr(a);
  out.Check(e.name + " help string", e.help, Documentation(ti, MEMBERID_NIL).second);
  out.Check(e.name + " constant count", e.values.size(), static_cast<size_t>(vars));
  for (WORD i = 0; i < vars && i < e.values.size(); ++i) {
    VARDESC* vd = nullptr;
    ti->GetVarDesc(i, &vd);
    const std::string where = e.name + " constant " + std::to_string(i + 1);
    out.Check(where + " name", e.values[i].first, Documentation(ti, vd->memid).first);
    VARIANT v;
    VariantInit(&v);
    const bool isLong = vd->varkind == VAR_CONST && VariantChangeType(&v, vd->lpvarValue, 0, VT_I4) == S_OK &&
                        V_VT(vd->lpvarValue) == VT_I4;
    out.Check(where + " is a 32-bit constant", true, isLong);
    if (isLong) out.Check(where + " value", e.values[i].second, static_cast<int>(V_I4(&v)));
    ti->ReleaseVarDesc(vd);
  }
  ti->Release();
}

std::vector<std::string> CompareContract(ITypeLib* lib, const Contract& contract) {
  Mismatches out;
  TLIBATTR* la = nullptr;
  lib->GetLibAttr(&la);
  out.Check("library version", std::string("1.0"),
            std::to_string(la->wMajorVerNum) + "." + std::to_string(la->wMinorVerNum));
  out.Check("library locale", static_cast<LCID>(0x409), la->lcid);
  out.Check("library system kind", static_cast<int>(SYS_WIN32), static_cast<int>(la->syskind));
  if (IsEqualGUID(la->guid, GUID_NULL)) out.Add("library has no LIBID");
  lib->ReleaseTLibAttr(la);
  BSTR name = nullptr, doc = nullptr, helpFile = nullptr;
  lib->GetDocumentation(-1, &name, &doc, nullptr, &helpFile);
  out.Check("library name", std::string("Quorvane"), Narrow(name));
  out.Check("library help string", std::string("Quorvane OCX 1.0 Type Library"), Narrow(doc));
  out.Check("library help file", std::string(""), Narrow(helpFile));
  SysFreeString(name);
  SysFreeString(doc);
  SysFreeString(helpFile);
  out.Check("type count", contract.interfaces.size() + contract.classes.size() + contract.enums.size(),
            static_cast<size_t>(lib->GetTypeInfoCount()));
  for (const auto& i : contract.interfaces) CompareInterface(lib, i, out);
  for (const auto& c : contract.classes) CompareClass(lib, c, out);
  for (const auto& e : contract.enums) CompareEnum(lib, e, out);
  return out.List();
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
// the registration scripts, and string 100.
TEST_F(TypeLibContract, ModuleResources) {
  HMODULE module = LoadLibraryExW(ServerPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(module, nullptr);
  EXPECT_NE(FindResourceExW(module, L"TYPELIB", MAKEINTRESOURCEW(1), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)),
            nullptr);
  EXPECT_NE(FindResourceW(module, MAKEINTRESOURCEW(101), L"REGISTRY"), nullptr);
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

ContractMember& Member(Contract& c, const std::string& itf, const std::string& name, const std::string& kind) {
  for (auto& i : c.interfaces)
    if (i.name == itf)
      for (auto& m : i.members)
        if (m.name == name && m.kind == kind) return m;
  throw std::runtime_error("no such member in the contract");
}

INSTANTIATE_TEST_SUITE_P(
    Details, AlteredContract,
    ::testing::Values(
        Alteration{"Dispid", [](Contract& c) { Member(c, "IDevice", "ImportTrack", "method").dispid = 44; },
                   "IDevice.ImportTrack (row 46) DISPID"},
        Alteration{"ParameterType",
                   [](Contract& c) {
                     Member(c, "IDiscInfo", "UsedSizeInLBs", "property get").params = "[out, retval] long* pVal";
                   },
                   "UsedSizeInLBs (row 9) parameters"},
        Alteration{"HelpString",
                   [](Contract& c) { Member(c, "ISimpleCallBack", "Percent", "property get").help = "percent"; },
                   "ISimpleCallBack.Percent (row 2) help string"},
        Alteration{"InterfaceName", [](Contract& c) { c.interfaces[1].name = "IDevice2"; }, "IDevice2: no dual"},
        Alteration{"DefaultInterface",
                   [](Contract& c) { std::swap(c.classes[9].interfaces[0], c.classes[9].interfaces[1]); },
                   "CSimpleCallBack interface 1"},
        Alteration{"EnumValue", [](Contract& c) { c.enums[0].values[13].second = 15; },
                   "QVX_DISC_TYPE constant 14 value"},
        Alteration{"ExtraEnum", [](Contract& c) { c.enums.push_back({"QVX_OTHER", "", {}}); }, "type count"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
