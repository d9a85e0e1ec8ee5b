// Process-wide tracing: every operation opens a scope named after itself and writes messages
// and failed results into it.
//
//   HRESULT CPolicy::Init() {
//     VDTraceNS::CScope ts("CPolicy::Init");
//     ts.Msg("count=%d user=%ls", n, user.c_str());
//     HRESULT hr = ...;
//     return ts.Result("VDFPInit", hr);   // written only when failed (or facility 9)
//   }
//
// The entry point binds tracing to the process's platform once (`VDTraceNS::Bind(&plat)`) and
// unbinds it (`Bind(nullptr)`) before the platform goes; nothing is recorded while unbound.
// Records go to the trace file and the log file as configured under HKLM
// "SOFTWARE\Veridane\Tracing", re-read at a scope entry at most every 30 s of the platform's
// tick count; a test can capture them in memory instead (trace_sink.h).
//
// Formats (trace_text.h has the details): in narrow formats %s takes a narrow (UTF-8) string
// and %ls a wide one, on every compiler; wide formats (the wide overloads) follow Windows, %s
// and %ls wide, %hs narrow. Use "%llX"/"%lld" for 64-bit values ("%I64X" is accepted but the
// compiler's format check rejects it).
//
// Cost with tracing off: a scope reads the tick count, compares it and tests one bit; no lock,
// no formatting.
//
// Scopes and records keep the thread's last error: GetLastError after a scope, a message or
// a result still gives the error of the caller's own failed call.
#pragma once

#include <atomic>
#include <cstdarg>

#include "platform/platform.h"

// The formatter follows the C99/glibc conversions on every target, so GCC checks call sites
// against gnu_printf even where its "printf" means Microsoft's (mingw).
#if defined(__clang__)
#define VD_TRACE_PRINTF(fmtIndex, argIndex) __attribute__((format(printf, fmtIndex, argIndex)))
#elif defined(__GNUC__)
#define VD_TRACE_PRINTF(fmtIndex, argIndex) __attribute__((format(gnu_printf, fmtIndex, argIndex)))
#else
#define VD_TRACE_PRINTF(fmtIndex, argIndex)
#endif

namespace VDTraceNS {

class ISink;

// Binds tracing to the process's platform (null unbinds, closing the outputs). Call it
// while no other thread traces: at process start and end, or between tests.
void Bind(platform::IPlatform* platform);

namespace detail {
// The part of the tracer a scope reads inline; everything else lives in trace.cpp.
struct Gate {
  std::atomic<platform::IKernel*> kernel{nullptr};
  std::atomic<DWORD> nextRefresh{0};
  // Non-zero when records are written at all ("DoTrace" on and the component enabled, or a
  // sink that records everything).
  std::atomic<DWORD> open{0};
};
extern Gate g_gate;
void Refresh(DWORD now);

inline bool EnterGate() {
  if (platform::IKernel* k = g_gate.kernel.load(std::memory_order_relaxed)) {
    const DWORD now = k->GetTickCount();
    // Signed difference: the 49.7-day wrap of the tick count does not stop refreshes.
    if (static_cast<LONG>(now - g_gate.nextRefresh.load(std::memory_order_relaxed)) >= 0)
      Refresh(now);
  }
  return g_gate.open.load(std::memory_order_relaxed) != 0;
}
inline bool IsOpen() { return g_gate.open.load(std::memory_order_relaxed) != 0; }
}  // namespace detail

// One traced operation: writes '>' now and '<' when it goes. The name must outlive the scope
// (a string literal, as at every call site); it is cut to 99 characters, null gives "????".
// `level` is compared with the configured verbosity; the agent always uses 0.
class CScope {
 public:
  explicit CScope(const char* name, LONG level = 0) noexcept : m_name(name), m_level(level) {
    if (detail::EnterGate()) Enter();
  }
  ~CScope() {
    if (detail::IsOpen()) Leave();
  }
  CScope(const CScope&) = delete;
  CScope& operator=(const CScope&) = delete;

  // A message ('U'); null or empty formats write nothing, nor does "DoProfiling".
  void Msg(const char* fmt, ...) const VD_TRACE_PRINTF(2, 3);
  void Msg(const wchar_t* fmt, ...) const;
  void MsgV(const char* fmt, va_list ap) const;
  void MsgV(const wchar_t* fmt, va_list ap) const;

  // A result ('E', "<code> <message>") when hr is negative or of facility 9; returns hr so a
  // call site can end with `return ts.Result("VDFPInit", hr);`.
  HRESULT Result(const char* message, HRESULT hr) const;
  HRESULT Result(const wchar_t* message, HRESULT hr) const;

  // A tag ('G'), written under the same conditions as a message.
  void Tag(const char* text) const;

  const char* Name() const { return m_name; }
  LONG Level() const { return m_level; }

 private:
  void Enter() const;
  void Leave() const;

  const char* m_name;
  LONG m_level;
};

// True when a result code is traced: negative, or facility 9 (security) whatever its sign.
constexpr bool IsTracedResult(HRESULT hr) { return hr < 0 || ((hr >> 16) & 0x1FFF) == 9; }

}  // namespace VDTraceNS
