// The automation server in-process under Wine: class objects, object
// identity, aggregation, dispatch, the served classes, engine failures as
// automation errors, and the Devices class object.
#include <windows.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "control/disc_info_records.h"
#include "control/win32/callbacks.h"
#include "control/win32/classes.h"
#include "control/win32/dao_layout.h"
#include "control/win32/disc_info.h"
#include "control/win32/engine_call.h"
#include "control/win32/server.h"
#include "core/startup.h"
#include "core/status.h"
#include "platform/sysinfo.h"
#include "support/test_support.h"
#include "com_ptr.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID);
extern "C" HRESULT WINAPI DllCanUnloadNow();

namespace {

using namespace qv::control;

class Com : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK); }
  void TearDown() override { CoUninitialize(); }
};

HRESULT Create(REFCLSID clsid, REFIID iid, void** ppv, IUnknown* outer = nullptr) {
  Ptr<IClassFactory> factory;
  HRESULT hr = GetServerClassObject(clsid, IID_IClassFactory, factory.Out());
  if (FAILED(hr)) return hr;
  return factory->CreateInstance(outer, iid, ppv);
}

// --- class objects --------------------------------------------------------

// Every served class is created by its CLSID in mta_client registered.
TEST_F(Com, UnservedClassesAndBadRequestsAreRefused) {
  const CLSID unknown = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
  void* p = reinterpret_cast<void*>(1);
  EXPECT_EQ(GetServerClassObject(unknown, IID_IClassFactory, &p), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(GetServerClassObject(CLSID_CDiscInfo, IID_IDispatch, &p), E_NOINTERFACE);
  EXPECT_EQ(GetServerClassObject(CLSID_CDiscInfo, IID_IClassFactory, nullptr), E_POINTER);
  EXPECT_TRUE(QuorvaneI_IsStarted()) << "the first request starts the engine";
}

TEST_F(Com, AFailedEngineStartFailsTheRequest) {
  Quorvane_DownShut();
  ForgetEngineStart();
  qv::plat::SetOsVersionOverride(qv::plat::OsVersion{4, 0, 1381, 2});
  void* p = nullptr;
  EXPECT_EQ(GetServerClassObject(CLSID_CDAOLayout, IID_IClassFactory, &p), static_cast<HRESULT>(0x800A0225));
  EXPECT_EQ(TakeErrorObject(), "Quorvane.DAOLayout.1|Operating system version is not supported");
  qv::plat::SetOsVersionOverride(std::nullopt);
  Ptr<IClassFactory> factory;
  EXPECT_EQ(GetServerClassObject(CLSID_CDAOLayout, IID_IClassFactory, factory.Out()), S_OK);
}

// --- identity, error support, class information ---------------------------

struct Identity {
  const CLSID* clsid;
  std::vector<const IID*> interfaces;  // default first
};

TEST_F(Com, EveryObjectAnswersAsOne) {
  const Identity classes[] = {
      {&CLSID_CDiscInfo, {&IID_IDiscInfo}},
      {&CLSID_CDAOLayout, {&IID_IDAOLayout}},
      {&CLSID_CSimpleCallBack, {&IID_ISimpleCallBack, &IID_IQuorvaneCallBack}},
      {&CLSID_CNotificationCallBack, {&IID_INotificationCallBack, &IID_IQuorvaneNotificationCallBack}},
      {&CLSID_CDevice, {&IID_IDevice}},
      {&CLSID_CJolietImage, {&IID_IJolietImage}},
      {&CLSID_CNode, {&IID_INode}},
      {&CLSID_CNodeDateTime, {&IID_INodeDateTime}},
  };
  for (const auto& c : classes) {
    Ptr<IUnknown> unknown;
    ASSERT_EQ(Create(*c.clsid, IID_IUnknown, unknown.Out()), S_OK);
    for (const IID* iid : c.interfaces) {
      Ptr<IUnknown> itf, back;
      ASSERT_EQ(unknown->QueryInterface(*iid, itf.Out()), S_OK);
      ASSERT_EQ(itf->QueryInterface(IID_IUnknown, back.Out()), S_OK);
      EXPECT_EQ(back.p, unknown.p) << "one identity";
    }
    Ptr<IUnknown> dispatch, primary;
    unknown->QueryInterface(IID_IDispatch, dispatch.Out());
    unknown->QueryInterface(*c.interfaces[0], primary.Out());
    EXPECT_EQ(dispatch.p, primary.p) << "IDispatch is the default interface";

    Ptr<ISupportErrorInfo> support;
    ASSERT_EQ(unknown->QueryInterface(IID_ISupportErrorInfo, support.Out()), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(*c.interfaces[0]), S_OK);
    for (size_t i = 1; i < c.interfaces.size(); ++i)
      EXPECT_EQ(support->InterfaceSupportsErrorInfo(*c.interfaces[i]), S_FALSE);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);

    Ptr<IProvideClassInfo> provide;
    ASSERT_EQ(unknown->QueryInterface(IID_IProvideClassInfo, provide.Out()), S_OK);
    Ptr<ITypeInfo> info;
    ASSERT_EQ(provide->GetClassInfo(&info), S_OK);
    TYPEATTR* attr = nullptr;
    info->GetTypeAttr(&attr);
    EXPECT_TRUE(IsEqualGUID(attr->guid, *c.clsid));
    EXPECT_EQ(attr->typekind, TKIND_COCLASS);
    info->ReleaseTypeAttr(attr);

    void* none = reinterpret_cast<void*>(1);
    const IID& foreign = IsEqualCLSID(*c.clsid, CLSID_CDevice) ? IID_IDAOLayout : IID_IDevice;
    EXPECT_EQ(unknown->QueryInterface(foreign, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
  }
}

// An outer object that counts the references its inner object hands it.
struct Outer : IUnknown {
  LONG refs = 1;
  IUnknown* inner = nullptr;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override {
    if (IsEqualIID(iid, IID_IUnknown)) {
      *ppv = this;
      AddRef();
      return S_OK;
    }
    return inner ? inner->QueryInterface(iid, ppv) : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
};

TEST_F(Com, ObjectsCanBeAggregated) {
  Outer outer;
  void* p = nullptr;
  EXPECT_EQ(Create(CLSID_CDiscInfo, IID_IDiscInfo, &p, &outer), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(p, nullptr);
  const long before = ModuleLockCount();
  ASSERT_EQ(Create(CLSID_CDiscInfo, IID_IUnknown, reinterpret_cast<void**>(&outer.inner), &outer), S_OK);
  EXPECT_EQ(ModuleLockCount(), before + 1);
  IDiscInfo* info = nullptr;
  ASSERT_EQ(outer.inner->QueryInterface(IID_IDiscInfo, reinterpret_cast<void**>(&info)), S_OK);
  EXPECT_EQ(outer.refs, 2) << "interfaces count on the outer object";
  IUnknown* identity = nullptr;
  ASSERT_EQ(info->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
  EXPECT_EQ(identity, static_cast<IUnknown*>(&outer)) << "the outer object is the identity";
  identity->Release();
  info->Release();
  EXPECT_EQ(outer.refs, 1);
  EXPECT_EQ(outer.inner->Release(), 0u);
  EXPECT_EQ(ModuleLockCount(), before);
}

TEST_F(Com, TheModuleStaysWhileObjectsLiveOrItIsLocked) {
  ASSERT_EQ(DllCanUnloadNow(), S_OK);
  {
    Ptr<IUnknown> object;
    ASSERT_EQ(Create(CLSID_CSimpleCallBack, IID_IUnknown, object.Out()), S_OK);
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  }
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
  Ptr<IClassFactory> factory;
  ASSERT_EQ(GetServerClassObject(CLSID_CNotificationCallBack, IID_IClassFactory, factory.Out()), S_OK);
  factory->LockServer(TRUE);
  EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
  factory->LockServer(FALSE);
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

// --- DiscInfo ---------------------------------------------------------------

// A closed CD-R with two tracks, the last ending at 20000.
void ClosedCdr(unsigned char* disc, unsigned char* track, unsigned char* toc) {
  std::memset(disc, 0, kDiscRecordSize);
  std::memset(track, 0, kTrackRecordSize);
  std::memset(toc, 0, kTocRecordSize);
  disc[0] = 1, disc[1] = 2, disc[2] = 3, disc[3] = 0;
  track[0] = 1, track[1] = 3;
  toc[0] = 1, toc[10] = 2;
  const uint32_t ends[2] = {10000, 20000};
  for (int k = 0; k < 2; ++k) std::memcpy(toc + 12 + k * 34 + 10, &ends[k], 4);
}

VARIANT Get(IDispatch* d, DISPID id, HRESULT* hr) {
  VARIANT v;
  VariantInit(&v);
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  *hr = d->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &v, nullptr, nullptr);
  return v;
}

TEST_F(Com, DiscInfoFromRecordsThroughBothInterfaces) {
  qvtest::LogCapture trace;
  Ptr<IDiscInfo> info;
  ASSERT_EQ(Create(CLSID_CDiscInfo, IID_IDiscInfo, info.Out()), S_OK);
  Ptr<IQuorvaneDiscInfoInit> init;
  ASSERT_EQ(info->QueryInterface(__uuidof(IQuorvaneDiscInfoInit), init.Out()), S_OK);
  unsigned char disc[kDiscRecordSize], track[kTrackRecordSize], toc[kTocRecordSize];
  ClosedCdr(disc, track, toc);
  EXPECT_EQ(init->Initialize(nullptr, track, toc, 2, 1, 1), E_POINTER);
  ASSERT_EQ(init->Initialize(disc, track, toc, 2, 1, 1), S_OK);
  std::memset(toc, 0xFF, sizeof toc);  // the object keeps its own copy

  ULONG used = 0, total = 0;
  EXPECT_EQ(info->get_UsedSizeInLBs(&used), S_OK);
  EXPECT_EQ(info->get_TotalSizeInLBs(&total), S_OK);
  EXPECT_EQ(used, 20000u);
  EXPECT_EQ(total, 20000u);
  EXPECT_EQ(trace.Count("size = 00004E20\n"), 2u);

  struct Property {
    DISPID id;
    VARTYPE vt;
    long value;
  };
  const Property properties[] = {{1, VT_BOOL, 0}, {2, VT_I4, 0},  {3, VT_I4, 0},  {4, VT_I4, 3},     {5, VT_BOOL, 0},
                                 {6, VT_UI1, 2},  {7, VT_UI1, 3}, {8, VT_UI4, 20000}, {9, VT_UI4, 20000}};
  for (const auto& p : properties) {
    HRESULT hr;
    VARIANT v = Get(info.p, p.id, &hr);
    ASSERT_EQ(hr, S_OK) << p.id;
    EXPECT_EQ(V_VT(&v), p.vt) << p.id;
    VARIANT asLong;
    VariantInit(&asLong);
    VariantChangeType(&asLong, &v, 0, VT_I4);
    EXPECT_EQ(V_I4(&asLong), p.value) << p.id;
  }
  EXPECT_EQ(trace.Count("CDiscInfo::get_IsBlank() : EXITing with success (0).\n"), 1u);
  HRESULT hr;
  Get(info.p, 10, &hr);
  EXPECT_EQ(hr, DISP_E_MEMBERNOTFOUND);
}

// A getter refuses a missing pointer, and a low one that cannot be real.
TEST_F(Com, DiscInfoMadeByAClientIsTraced) {
  qvtest::LogCapture trace;
  {
    Ptr<IDiscInfo> info;
    ASSERT_EQ(Create(CLSID_CDiscInfo, IID_IDiscInfo, info.Out()), S_OK);
    VARIANT_BOOL blank = 1;
    EXPECT_EQ(info->get_IsBlank(&blank), S_OK);
    EXPECT_EQ(info->get_UsedSizeInLBs(nullptr), E_POINTER);
    EXPECT_EQ(info->get_FreeLBs(reinterpret_cast<long*>(16)), E_POINTER);
  }
  EXPECT_EQ(trace.Count("\nCDiscInfo::FinalConstruct()\n"), 1u);
  EXPECT_EQ(trace.Count("\nCDiscInfo::FinalRelease()\n"), 1u);
  EXPECT_EQ(trace.Count("CDiscInfo::get_IsBlank() : ENTERed for "), 1u);
  EXPECT_EQ(trace.Count("\nCDiscInfo::get_UsedSizeInLBs(): Invalid pointer\n"), 1u);
}

// --- DAOLayout --------------------------------------------------------------

// The artist argument as each kind of VARIANT: the value goes in the
// union's first eight bytes (a number, or the text or a pointer to it).
struct CdTextArgument {
  const char* name;
  VARTYPE vt;
  int64_t value;  // kText: the text; kTextAddress: a pointer to it
  HRESULT result;
  const char* stored;  // nullptr: nothing appended
};
constexpr int64_t kText = -1, kTextAddress = -2;

VARIANT Argument(const CdTextArgument& a, BSTR* text) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = a.vt;
  V_I8(&v) = a.value;
  if (a.value == kText) V_BSTR(&v) = *text;
  if (a.value == kTextAddress) V_BSTRREF(&v) = text;
  return v;
}

class DaoLayoutArguments : public Com, public ::testing::WithParamInterface<CdTextArgument> {};

TEST_P(DaoLayoutArguments, CdTextArtist) {
  BSTR text = SysAllocString(L"The Band");
  qvtest::LogCapture trace;
  Ptr<IDAOLayout> layout;
  ASSERT_EQ(Create(CLSID_CDAOLayout, IID_IDAOLayout, layout.Out()), S_OK);
  BSTR file = SysAllocString(L"C:\\missing\\track.wav");
  const CdTextArgument missing{"", VT_ERROR, DISP_E_PARAMNOTFOUND, S_OK, ""};
  EXPECT_EQ(layout->AddTrack(file, Argument(GetParam(), &text), Argument(missing, &text)), GetParam().result);
  SysFreeString(file);
  auto* object = static_cast<qv::control::CDAOLayout*>(layout.p);
  const auto tracks = object->Tracks();
  ULONG count = 9;
  EXPECT_EQ(layout->get_TrackCount(&count), S_OK);
  if (GetParam().stored == nullptr) {
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(trace.Count("CDAOLayout::AddCDTextInfo() : Exception\n"), 1u);
  } else {
    ASSERT_EQ(count, 1u);
    ASSERT_EQ(tracks.size(), 1u);
    EXPECT_EQ(tracks[0].fileName, "C:\\missing\\track.wav") << "no validation of the file";
    EXPECT_EQ(tracks[0].artist, GetParam().stored);
    EXPECT_EQ(tracks[0].title, "");
  }
  SysFreeString(text);
}

INSTANTIATE_TEST_SUITE_P(
    Variants, DaoLayoutArguments,
    ::testing::Values(CdTextArgument{"Long", VT_I4, 42, S_OK, "42"}, CdTextArgument{"Short", VT_I2, 7, S_OK, ""},
                      CdTextArgument{"Text", VT_BSTR, kText, S_OK, "The Band"},
                      CdTextArgument{"TextByReference", VT_BSTR | VT_BYREF, kTextAddress, S_OK, "The Band"},
                      CdTextArgument{"Null", VT_NULL, 0, E_OUTOFMEMORY, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

// A second pair of disc texts replaces the first.
TEST_F(Com, DaoLayoutKeepsTheLastDiscTexts) {
  Ptr<IDAOLayout> layout;
  ASSERT_EQ(Create(CLSID_CDAOLayout, IID_IDAOLayout, layout.Out()), S_OK);
  for (const wchar_t* artist : {L"First Artist", L"Second Artist"}) {
    BSTR a = SysAllocString(artist), album = SysAllocString(L"Title");
    EXPECT_EQ(layout->AddCDTextInfo(a, album), S_OK);
    SysFreeString(a);
    SysFreeString(album);
  }
  auto* object = static_cast<qv::control::CDAOLayout*>(layout.p);
  EXPECT_EQ(object->DiscArtist(), "Second Artist");
  EXPECT_EQ(object->DiscAlbum(), "Title");
}

// --- callbacks --------------------------------------------------------------

// A progress object seen through both of its interfaces.
class CallBack : public Com {
 protected:
  void SetUp() override {
    Com::SetUp();
    ASSERT_EQ(Create(CLSID_CSimpleCallBack, IID_ISimpleCallBack, simple.Out()), S_OK);
    ASSERT_EQ(simple->QueryInterface(IID_IQuorvaneCallBack, progress.Out()), S_OK);
  }
  void TearDown() override {
    progress.Reset();
    simple.Reset();
    Com::TearDown();
  }
  Ptr<ISimpleCallBack> simple;
  Ptr<IQuorvaneCallBack> progress;
};

TEST_F(CallBack, SimpleCallBackKeepsTheLastReport) {
  long percent = -1;
  EXPECT_EQ(simple->get_Percent(&percent), S_OK);
  EXPECT_EQ(percent, 0);
  // Reports come from whatever threads do the work, several at once.
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; ++t)
    workers.emplace_back([&] {
      for (long p = 0; p <= 100; p += 10) EXPECT_EQ(progress->ProgressCallBack(p, 100 - p), S_OK);
    });
  for (auto& w : workers) w.join();
  EXPECT_EQ(simple->get_Percent(&percent), S_OK);
  EXPECT_EQ(percent, 100);
  auto* object = static_cast<qv::control::CSimpleCallBack*>(simple.p);
  EXPECT_EQ(object->TimeRemaining(), 0);
  progress->ProgressCallBack(37, 12);
  EXPECT_EQ(simple->Reset(), S_OK);
  simple->get_Percent(&percent);
  EXPECT_EQ(percent, 0);
  EXPECT_EQ(object->TimeRemaining(), 12) << "time remaining is never reset";
}

// Each dual interface dispatches by its own type information: DISPID 1 is
// ProgressCallBack on one and Reset on the other.
TEST_F(CallBack, EachInterfaceDispatchesItsOwnMembers) {
  VARIANT args[2];
  V_VT(&args[0]) = VT_I4;
  V_I4(&args[0]) = 9;  // TimeRemaining
  V_VT(&args[1]) = VT_I4;
  V_I4(&args[1]) = 55;  // Percent
  DISPPARAMS two = {args, nullptr, 2, 0};
  EXPECT_EQ(progress->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &two, nullptr, nullptr, nullptr), S_OK);
  HRESULT hr;
  VARIANT v = Get(simple.p, 2, &hr);
  EXPECT_EQ(V_I4(&v), 55);
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  EXPECT_EQ(simple->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr), S_OK);
  v = Get(simple.p, 2, &hr);
  EXPECT_EQ(V_I4(&v), 0) << "DISPID 1 of ISimpleCallBack is Reset";
  DISPID id = 0;
  LPOLESTR name = const_cast<LPOLESTR>(L"ProgressCallBack");
  EXPECT_EQ(simple->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(progress->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), S_OK);
}

// --- engine failures --------------------------------------------------------

struct Failure {
  const char* name;
  uint32_t number, status;
  HRESULT result;
  const char* errorObject;
};

class EngineFailures : public Com, public ::testing::WithParamInterface<Failure> {};

TEST_P(EngineFailures, BecomeAutomationErrors) {
  const Failure& f = GetParam();
  // An earlier failure's error object must not be mistaken for this one.
  EngineErrorResult(1, 0, CLSID_CDevice);
  std::string message = "earlier";
  uint8_t senseKey = 0;
  qvtest::LogCapture trace;
  const HRESULT hr = CallEngine("CDevice::Load", reinterpret_cast<void*>(0x1234), "Quorvane_CdvdBurnerGrabber_Load",
                                CLSID_CDevice, message, &senseKey,
                                [&](char* text, uint32_t size, uint32_t* system, CDB_FAILURE_INFORMATION* record) {
                                  EXPECT_EQ(text[0], 0);
                                  EXPECT_EQ(record->m__UCHAR__IsValid, 0);
                                  std::snprintf(text, size, "engine says %u", f.number);
                                  *system = f.status;
                                  record->m__UCHAR__IsValid = 1;
                                  record->m__UCHAR__CDBLength = 10;
                                  record->m__UCHAR__CDB[0] = 0x2A;
                                  record->m__UCHAR__SenseLength = 32;
                                  record->m__UCHAR__Sense[0] = 0x70;
                                  record->m__UCHAR__Sense[2] = 0xF5;  // sense key 5 with flag bits
                                  record->m__UCHAR__Sense[12] = 0x24;
                                  record->m__UCHAR__TargetStatus = 2;
                                  return f.number;
                                });
  EXPECT_EQ(hr, f.result);
  EXPECT_EQ(TakeErrorObject(), f.errorObject);
  EXPECT_EQ(message, "engine says " + std::to_string(f.number));
  EXPECT_EQ(senseKey, 5);
  const std::string failed = "): Quorvane_CdvdBurnerGrabber_Load() failed, exception " + std::to_string(f.number) +
                             ", status " + std::to_string(static_cast<int32_t>(f.status)) + ", text 'engine says ";
  for (const std::string& line : {failed, std::string("\nValid = yes, CDB Size = 10, Sense Size = 32\n"),
                                   std::string("CDB: 2A 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 \n"),
                                   std::string("Sense 00: 70 00 F5 00 00 00 00 00 00 00 00 00 24 00 00 00 \n"),
                                   std::string("Transport status = 0, Target Status = 2, HostAdapter Status = 0\n")})
    EXPECT_EQ(trace.Count(line), 1u) << line << trace.Text();
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, EngineFailures,
    ::testing::Values(
        Failure{"InvalidParameter", 2, 0, static_cast<HRESULT>(0x800A0202),
                "Quorvane.Device.1|User input parameter is not valid"},
        Failure{"SystemStatusOredWhole", 5, 0x12345, static_cast<HRESULT>(0x80072345 | 0x10000), "(none)"},
        Failure{"NumberWithoutText", 24, 0, static_cast<HRESULT>(0x800A0218), "Quorvane.Device.1|"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Com, ASucceedingCallClearsTheMessage) {
  std::string message = "old failure";
  EXPECT_EQ(CallEngine("CDevice::Eject", nullptr, "Quorvane_X", CLSID_CDevice, message, nullptr,
                       [](char*, uint32_t, uint32_t*, CDB_FAILURE_INFORMATION*) { return 0u; }),
            S_OK);
  EXPECT_EQ(message, "");
}

// --- the Devices class object -----------------------------------------------

class FakeDevices : public ComObject<FakeDevices, IDevices> {
 public:
  static const CLSID& ClassId() { return CLSID_CDevices; }
  HRESULT STDMETHODCALLTYPE GetDevice(long, IDevice**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Count(long* count) override {
    *count = 3;
    return S_OK;
  }
};

TEST_F(Com, WhileDevicesLivesEveryRequestGetsIt) {
  Ptr<IUnknown> devices;
  ASSERT_EQ(FakeDevices::Create(nullptr, IID_IUnknown, devices.Out()), S_OK);
  qvtest::LogCapture trace;
  g_pDevices = devices.p;
  Ptr<IClassFactory> factory;
  ASSERT_EQ(GetServerClassObject(CLSID_CDevices, IID_IClassFactory, factory.Out()), S_OK);
  EXPECT_EQ(trace.Count("DllGetClassObject(<IDevices>) : hr=00000000, p="), 1u);
  Ptr<IDevices> first, second;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDevices, first.Out()), S_OK);
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, second.Out()), S_OK) << "asks for IDevices regardless";
  EXPECT_EQ(first.p, second.p);
  Ptr<IDevices> original;
  devices->QueryInterface(IID_IDevices, original.Out());
  EXPECT_EQ(first.p, original.p) << "the same object";
  EXPECT_EQ(trace.Count("CDevicesFactory() : hr=00000000, p="), 2u);
  Outer outer;
  void* p = nullptr;
  EXPECT_EQ(factory->CreateInstance(&outer, IID_IUnknown, &p), CLASS_E_NOAGGREGATION);

  g_pDevices = nullptr;  // the Devices object went away
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDevices, &p), E_FAIL);
  Ptr<IClassFactory> none;
  ASSERT_EQ(GetServerClassObject(CLSID_CDevices, IID_IClassFactory, none.Out()), S_OK);
  EXPECT_EQ(trace.Count("DllGetClassObject(<IDevices>)"), 1u) << "the ordinary class object once none lives";
}

// --- module entry -------------------------------------------------------------

TEST_F(Com, DllMainTracesLoadingAndShutsTheEngineDown) {
  qvtest::LogCapture trace;
  HINSTANCE self = GetModuleHandleW(nullptr);
  EXPECT_TRUE(DllMain(self, DLL_PROCESS_ATTACH, nullptr));
  const std::string text = trace.Text();
  EXPECT_EQ(text.rfind("\nQuorvaneX.DllMain(): QuorvaneX Build Date = ", 0), 0u) << text;
  EXPECT_NE(text.find("20060516\nSupported SDK version = 20060630, Current SDK version 20060630.\n"),
            std::string::npos)
      << text;
  Quorvane_UpStartEx();
  trace.Clear();
  EXPECT_TRUE(DllMain(self, DLL_PROCESS_DETACH, nullptr));
  EXPECT_EQ(trace.Text().rfind("\nQuorvaneX.DllMain(): EXITing\n", 0), 0u) << "first, before the engine shuts down";
  EXPECT_FALSE(QuorvaneI_IsStarted());
  ForgetEngineStart();
}

}  // namespace
