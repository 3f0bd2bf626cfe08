#pragma once
// The root interface of every object that crosses between a program and a module, and the base
// class that implements it with reference counting and delegation to an outer (owning) object.
//
// Interfaces are abstract classes with no data and no virtual destructor, so that their slot
// order is exactly the order of their methods. An object is destroyed only by its last Release.

#include "platform/com/Guid.h"
#include "platform/com/HResult.h"

#include <atomic>
#include <cstdint>

namespace kestrom::com {

using ULONG = uint32_t;

inline constexpr IID IID_IUnknown = MakeGuid("{00000000-0000-0000-C000-000000000046}");
inline constexpr IID IID_IClassFactory = MakeGuid("{00000001-0000-0000-C000-000000000046}");

struct IUnknown {
  virtual HRESULT QueryInterface(REFIID iid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;
};

struct IClassFactory : IUnknown {
  virtual HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) = 0;
  virtual HRESULT LockServer(int32_t lock) = 0;

 protected:
  ~IClassFactory() = default;
};

/** @brief The three IUnknown operations without delegation: the identity of an aggregated object. */
struct INonDelegatingUnknown {
  virtual HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) = 0;
  virtual ULONG NonDelegatingAddRef() = 0;
  virtual ULONG NonDelegatingRelease() = 0;

 protected:
  ~INonDelegatingUnknown() = default;
};

/**
 * @brief Counts a module's live objects and server locks, which keep it loaded; one per module.
 * A module answers DllCanUnloadNow with S_OK only when both are zero.
 */
class ModuleRefCount {
 public:
  void AddObject() { objects_.fetch_add(1); }
  void RemoveObject() { objects_.fetch_sub(1); }
  void Lock(bool lock) { lock ? locks_.fetch_add(1) : locks_.fetch_sub(1); }
  long Objects() const { return objects_.load(); }
  long Locks() const { return locks_.load(); }
  HRESULT CanUnloadNow() const { return objects_.load() == 0 && locks_.load() == 0 ? S_OK : S_FALSE; }

 private:
  std::atomic<long> objects_{0};
  std::atomic<long> locks_{0};
};

/** @brief Holds its module loaded for as long as it lives (a member of a module's objects). */
class ModuleObject {
 public:
  explicit ModuleObject(ModuleRefCount& module) : module_(module) { module_.AddObject(); }
  ~ModuleObject() { module_.RemoveObject(); }
  ModuleObject(const ModuleObject&) = delete;
  ModuleObject& operator=(const ModuleObject&) = delete;

 private:
  ModuleRefCount& module_;
};

/**
 * @brief Reference-counted base of our objects. Without an outer unknown the object is its own
 * owner; inside an aggregate every interface's IUnknown calls go to the outer object, and only
 * the non-delegating unknown counts this object's own references.
 */
class CUnknown : public INonDelegatingUnknown {
 public:
  CUnknown(const char* name, IUnknown* outer);
  virtual ~CUnknown();
  CUnknown(const CUnknown&) = delete;
  CUnknown& operator=(const CUnknown&) = delete;

  /** @brief Where the IUnknown calls of this object's interfaces go: the outer object, or our own identity. */
  IUnknown* GetOwner() const { return owner_; }
  /** @brief This object's own identity (its non-delegating unknown as an IUnknown). */
  IUnknown* GetInner() { return &inner_; }
  const char* ObjectName() const { return name_; }

  HRESULT NonDelegatingQueryInterface(REFIID iid, void** object) override;
  ULONG NonDelegatingAddRef() override;
  ULONG NonDelegatingRelease() override;

 private:
  // Real IUnknown that forwards to the non-delegating calls: the identity handed to an outer
  // object, without reinterpreting one interface as another.
  struct Inner final : IUnknown {
    explicit Inner(CUnknown& self) : self_(self) {}
    HRESULT QueryInterface(REFIID iid, void** object) override { return self_.NonDelegatingQueryInterface(iid, object); }
    ULONG AddRef() override { return self_.NonDelegatingAddRef(); }
    ULONG Release() override { return self_.NonDelegatingRelease(); }
    CUnknown& self_;
  };

  const char* name_;
  Inner inner_;
  IUnknown* owner_;
  std::atomic<long> refs_{0};
};

/** @brief Hands out an interface pointer with a reference added (the usual tail of a query). */
HRESULT GetInterface(IUnknown* unknown, void** object);

}  // namespace kestrom::com

// The IUnknown calls of a class derived from CUnknown that implements interfaces: all three go to
// the owner.
#define DECLARE_IUNKNOWN                                                                          \
  ::kestrom::com::HRESULT QueryInterface(::kestrom::com::REFIID iid, void** object) override {   \
    return GetOwner()->QueryInterface(iid, object);                                               \
  }                                                                                               \
  ::kestrom::com::ULONG AddRef() override { return GetOwner()->AddRef(); }                        \
  ::kestrom::com::ULONG Release() override { return GetOwner()->Release(); }
