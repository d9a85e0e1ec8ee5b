// RAII owners for platform handles: one type per handle kind, closing through the platform
// that opened it, never a raw close in logic. Reset and destruction are idempotent.
//
//   platform::UniqueHKey key(plat.Registry());
//   if (plat.Registry().RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, key.put()) ==
//       ERROR_SUCCESS) { ... }   // closed when `key` goes
#pragma once

#include <utility>

#include "platform/gdi.h"
#include "platform/kernel.h"
#include "platform/modules.h"
#include "platform/registry.h"
#include "platform/ui.h"

namespace platform {

template <typename Handle, typename Owner, auto Close, auto Invalid>
class UniqueAny {
 public:
  explicit UniqueAny(Owner& owner, Handle h = Invalid()) : m_owner(&owner), m_h(h) {}
  UniqueAny(const UniqueAny&) = delete;
  UniqueAny& operator=(const UniqueAny&) = delete;
  UniqueAny(UniqueAny&& o) noexcept : m_owner(o.m_owner), m_h(o.release()) {}
  UniqueAny& operator=(UniqueAny&& o) noexcept {
    if (this != &o) {
      reset(o.release());
      m_owner = o.m_owner;
    }
    return *this;
  }
  ~UniqueAny() { reset(); }

  Handle get() const { return m_h; }
  explicit operator bool() const { return m_h != Invalid(); }
  Handle release() { return std::exchange(m_h, Invalid()); }
  void reset(Handle h = Invalid()) {
    Handle old = std::exchange(m_h, h);
    if (old != Invalid()) Close(*m_owner, old);
  }
  // For out-parameters: closes what is held and hands out the slot.
  Handle* put() {
    reset();
    return &m_h;
  }

 private:
  Owner* m_owner;
  Handle m_h;
};

namespace detail {
inline void CloseKey(IRegistry& r, HKEY k) { r.RegCloseKey(k); }
inline void CloseKernelHandle(IKernel& k, HANDLE h) { k.CloseHandle(h); }
inline void UnloadModule(IModules& m, HMODULE h) { m.FreeLibrary(h); }
inline HKEY NullKey() { return nullptr; }
inline HANDLE NullHandle() { return nullptr; }
inline HANDLE InvalidFile() { return INVALID_HANDLE_VALUE; }
inline HMODULE NullModule() { return nullptr; }
inline void DeleteGdiObject(IGdi& g, HBITMAP b) { g.DeleteObject(b); }
inline void DeleteMemoryDc(IGdi& g, HDC dc) { g.DeleteDC(dc); }
inline void ReleaseScreenDc(IUi& u, HDC dc) { u.ReleaseDC(nullptr, dc); }
inline HBITMAP NullBitmap() { return nullptr; }
inline HDC NullDc() { return nullptr; }
}  // namespace detail

using UniqueHKey = UniqueAny<HKEY, IRegistry, &detail::CloseKey, &detail::NullKey>;
// Mutexes, events and other kernel objects whose "no handle" is null.
using UniqueHandle = UniqueAny<HANDLE, IKernel, &detail::CloseKernelHandle, &detail::NullHandle>;
// Files, whose "no handle" is INVALID_HANDLE_VALUE.
using UniqueFile = UniqueAny<HANDLE, IKernel, &detail::CloseKernelHandle, &detail::InvalidFile>;
// Libraries loaded with LoadLibraryExW (code or data), freed once.
using UniqueModule = UniqueAny<HMODULE, IModules, &detail::UnloadModule, &detail::NullModule>;
// Bitmaps and DIB sections (DeleteObject); deselect one from its DC before it goes.
using UniqueBitmap = UniqueAny<HBITMAP, IGdi, &detail::DeleteGdiObject, &detail::NullBitmap>;
// Memory DCs made with CreateCompatibleDC (DeleteDC).
using UniqueMemoryDc = UniqueAny<HDC, IGdi, &detail::DeleteMemoryDc, &detail::NullDc>;
// The screen's DC from GetDC(nullptr) (ReleaseDC).
using UniqueScreenDc = UniqueAny<HDC, IUi, &detail::ReleaseScreenDc, &detail::NullDc>;

}  // namespace platform
