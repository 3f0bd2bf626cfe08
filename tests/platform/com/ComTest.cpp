#include "platform/com/ClassFactory.h"
#include "platform/com/ComPtr.h"
#include "platform/com/ComRuntime.h"
#include "platform/registry/Registry.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace kestrom::com {
namespace {

TEST(Guid, ParsesAndFormatsInBracesComparingByValue) {
  constexpr GUID g = MakeGuid("{2A595B0E-BEFE-4B3B-A138-DACC62A7DDDF}");
  EXPECT_EQ(g.Data1, 0x2A595B0Eu);
  EXPECT_EQ(g.Data2, 0xBEFE);
  EXPECT_EQ(g.Data3, 0x4B3B);
  EXPECT_EQ(g.Data4[0], 0xA1);
  EXPECT_EQ(g.Data4[7], 0xDF);
  EXPECT_EQ(GuidToString(g), "{2A595B0E-BEFE-4B3B-A138-DACC62A7DDDF}");

  const struct {
    const char* text;
    bool valid;
  } cases[] = {
      {"{2a595b0e-befe-4b3b-a138-dacc62a7dddf}", true},
      {"2A595B0E-BEFE-4B3B-A138-DACC62A7DDDF", true},
      {" {2A595B0E-BEFE-4B3B-A138-DACC62A7DDDF} ", true},
      {"{2A595B0E-BEFE-4B3B-A138-DACC62A7DDD}", false},
      {"{2A595B0E-BEFE-4B3B-A138-DACC62A7DDDG}", false},
      {"{2A595B0E+BEFE-4B3B-A138-DACC62A7DDDF}", false},
      {"(2A595B0E-BEFE-4B3B-A138-DACC62A7DDDF)", false},
      {"", false},
  };
  for (const auto& c : cases) {
    const auto parsed = GuidFromString(QString::fromLatin1(c.text));
    EXPECT_EQ(parsed.has_value(), c.valid) << c.text;
    if (parsed) {
      EXPECT_EQ(*parsed, g) << c.text;
    }
  }
  GUID other = g;
  other.Data4[7] ^= 1;
  EXPECT_FALSE(other == g);
}

constexpr IID IID_ICounter = MakeGuid("{6B1D0C51-6F0A-4B8E-9C3B-2B7F0E0A9D11}");
constexpr CLSID CLSID_Counter = MakeGuid("{6B1D0C52-6F0A-4B8E-9C3B-2B7F0E0A9D11}");

struct ICounter : IUnknown {
  virtual int Next() = 0;

 protected:
  ~ICounter() = default;
};

int g_liveCounters = 0;

class CCounter final : public CUnknown, public ICounter {
 public:
  explicit CCounter(IUnknown* outer) : CUnknown("counter", outer) { ++g_liveCounters; }
  ~CCounter() override { --g_liveCounters; }
  static CUnknown* Create(IUnknown* outer, HRESULT*) { return new CCounter(outer); }

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (iid == IID_ICounter) return GetInterface(static_cast<ICounter*>(this), object);
    return CUnknown::NonDelegatingQueryInterface(iid, object);
  }
  int Next() override { return ++n_; }

 private:
  int n_ = 0;
};

// An outer object that aggregates a counter and hands out its interface as its own.
class COuter final : public CUnknown {
 public:
  COuter() : CUnknown("outer", nullptr) {}
  ~COuter() override {
    if (inner_) inner_->Release();
  }
  HRESULT Init() {
    return CoCreateInstance(CLSID_Counter, GetInner(), CLSCTX_INPROC_SERVER, IID_IUnknown,
                            reinterpret_cast<void**>(&inner_));
  }
  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override {
    if (iid == IID_ICounter) return inner_->QueryInterface(iid, object);
    return CUnknown::NonDelegatingQueryInterface(iid, object);
  }

 private:
  IUnknown* inner_ = nullptr;
};

class ClassRegistration : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(registryDir_.isValid());
    registry::SetRegistryDirectory(registryDir_.path());
    auto* factory = new CClassFactory(&CCounter::Create, &module_);
    factory->NonDelegatingAddRef();
    ASSERT_EQ(CoRegisterClassObject(CLSID_Counter, factory->GetInner(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_), S_OK);
    factory->NonDelegatingRelease();
  }
  void TearDown() override {
    EXPECT_EQ(CoRevokeClassObject(cookie_), S_OK);
    EXPECT_EQ(module_.CanUnloadNow(), S_OK);
    EXPECT_EQ(g_liveCounters, 0);
    registry::SetRegistryDirectory({});
  }

  QTemporaryDir registryDir_;
  ModuleRefCount module_;
  DWORD cookie_ = 0;
};

TEST_F(ClassRegistration, CreatesByClassIdAndCountsReferencesAndLocks) {
  ComPtr<ICounter> counter;
  ASSERT_EQ(CoCreateInstance(CLSID_Counter, nullptr, IID_ICounter, &counter), S_OK);
  EXPECT_EQ(counter->Next(), 1);
  EXPECT_EQ(module_.CanUnloadNow(), S_FALSE);

  ComPtr<IUnknown> identity;
  ASSERT_EQ(counter.As(IID_IUnknown, &identity), S_OK);
  ComPtr<ICounter> again;
  ASSERT_EQ(identity.As(IID_ICounter, &again), S_OK);
  EXPECT_EQ(again.Get(), counter.Get());
  EXPECT_EQ(again->Next(), 2);

  ComPtr<IUnknown> none;
  EXPECT_EQ(counter.As(MakeGuid("{00000000-0000-0000-0000-0000000000AB}"), &none), E_NOINTERFACE);
  EXPECT_FALSE(none);

  counter.Reset();
  again.Reset();
  identity.Reset();
  EXPECT_EQ(g_liveCounters, 0);

  // A server lock keeps the module loaded without any object.
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(CoGetClassObject(CLSID_Counter, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.PutVoid()), S_OK);
  factory->LockServer(1);
  EXPECT_EQ(module_.CanUnloadNow(), S_FALSE);
  factory->LockServer(0);
}

TEST_F(ClassRegistration, AggregatedObjectDelegatesToItsOuterObject) {
  auto* outer = new COuter;
  outer->NonDelegatingAddRef();
  ASSERT_EQ(outer->Init(), S_OK);

  ComPtr<ICounter> counter;
  ASSERT_EQ(outer->GetInner()->QueryInterface(IID_ICounter, counter.PutVoid()), S_OK);
  // The counter's IUnknown is the outer object's.
  ComPtr<IUnknown> identity;
  ASSERT_EQ(counter.As(IID_IUnknown, &identity), S_OK);
  EXPECT_EQ(identity.Get(), outer->GetInner());
  identity.Reset();

  // The aggregate lives while any interface of it is held.
  outer->NonDelegatingRelease();
  EXPECT_EQ(g_liveCounters, 1);
  EXPECT_EQ(counter->Next(), 1);
  counter.Reset();
  EXPECT_EQ(g_liveCounters, 0);

  // An outer object may only ask for the inner's identity.
  ComPtr<ICounter> wrong;
  auto* another = new COuter;
  another->NonDelegatingAddRef();
  EXPECT_EQ(CoCreateInstance(CLSID_Counter, another->GetInner(), CLSCTX_INPROC_SERVER, IID_ICounter, wrong.PutVoid()),
            CLASS_E_NOAGGREGATION);
  another->NonDelegatingRelease();
}

TEST_F(ClassRegistration, UnknownOrBrokenRegistrationsFailWithTheirCodes) {
  const CLSID unknown = MakeGuid("{6B1D0C53-6F0A-4B8E-9C3B-2B7F0E0A9D11}");
  ComPtr<IUnknown> object;
  EXPECT_EQ(CoCreateInstance(unknown, nullptr, IID_IUnknown, &object), REGDB_E_CLASSNOTREG);

  // Registered under InprocServer32, but the module is missing, or is not a module.
  using namespace kestrom::registry;
  const QString notAModule = registryDir_.filePath("not-a-module.so");
  QFile f(notAModule);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("plain text");
  f.close();
  const struct {
    QString path;
    HRESULT expected;
  } cases[] = {{registryDir_.filePath("missing.so"), CO_E_DLLNOTFOUND}, {notAModule, CO_E_DLLNOTFOUND}};
  for (const auto& c : cases) {
    TRegistry reg(HKEY_CLASSES_ROOT);
    ASSERT_TRUE(reg.OpenKey(QStringLiteral("\\CLSID\\%1\\InprocServer32").arg(GuidToString(unknown)), true));
    ASSERT_TRUE(reg.WriteString(QString(), c.path));
    EXPECT_EQ(CoCreateInstance(unknown, nullptr, IID_IUnknown, &object), c.expected) << c.path.toStdString();
    EXPECT_FALSE(object);
  }
  EXPECT_EQ(CoRevokeClassObject(0xFFFFFFFF), E_INVALIDARG);
}

TEST(TaskMemory, IsMallocMemory) {
  void* p = CoTaskMemAlloc(16);
  ASSERT_NE(p, nullptr);
  std::free(p);  // must be interchangeable with free
  CoTaskMemFree(std::malloc(8));
  CoTaskMemFree(nullptr);
}

}  // namespace
}  // namespace kestrom::com
