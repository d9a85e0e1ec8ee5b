#include "support/settings/vd_variant.h"

#include <cstdint>
#include <cstring>

#include "support/trace/trace.h"

namespace {
// Pointers are printed whole: the same text as "0x%X" in the 32-bit agent, nothing cut in a
// 64-bit build.
unsigned long long PointerValue(const void* p) {
  return static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(p));
}
}  // namespace

void CVDVariant::Clear(VDVARIANT& v, GPO::IPolicyLibrary& lib) {
  VDTraceNS::CScope ts("CVDVariant::Clear");
  switch (v.VarType) {
    case VDVAR_STRING:
      ts.Msg("VDVAR_STRING, 0x%llX", PointerValue(v.pwszVal));
      lib.BufferFree(v.pwszVal);
      break;
    case VDVAR_BLOB:
      ts.Msg("VDVAR_BLOB, 0x%llX[%d]", PointerValue(v.blob.pElems),
             static_cast<int>(v.blob.cElems));
      lib.BufferFree(v.blob.pElems);
      break;
    case VDVAR_ARRAY:
      ts.Msg("VDVAR_ARRAY, 0x%llX[%d]", PointerValue(v.array.pElems),
             static_cast<int>(v.array.cElems));
      if (v.array.pElems) {
        for (DWORD i = 0; i < v.array.cElems; ++i) Clear(v.array.pElems[i], lib);
      }
      lib.BufferFree(v.array.pElems);
      break;
    default:
      if (v.VarType >= 12) ts.Msg("pcvdvariant->VarType = %d", static_cast<int>(v.VarType));
      break;
  }
  v.VarType = VDVAR_EMPTY;
  // The whole payload: the count-and-pointer forms are its widest member.
  static_assert(sizeof(v.blob) >= sizeof(v.ullVal));
  std::memset(static_cast<void*>(&v.blob), 0, sizeof(v.blob));
}
