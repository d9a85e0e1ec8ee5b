#include "support/trace/trace.h"

#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <string>

#include "support/trace/trace_config.h"
#include "support/trace/trace_format.h"
#include "support/trace/trace_output.h"
#include "support/trace/trace_sink.h"
#include "support/trace/trace_text.h"

namespace VDTraceNS {

namespace detail {
Gate g_gate;
}  // namespace detail

namespace {

constexpr DWORD kRefreshIntervalMs = 30000;
constexpr std::size_t kMaxScopeName = 99;

// Keeps the calling thread's last error across the tracer's own registry, file and mutex
// calls: code reads GetLastError after opening a scope or writing a record (CVDFPInit
// does), and must get its own failure, not ours.
class LastErrorKeeper {
 public:
  explicit LastErrorKeeper(platform::IKernel& kernel)
      : m_kernel(kernel), m_saved(kernel.GetLastError()) {}
  ~LastErrorKeeper() { m_kernel.SetLastError(m_saved); }
  LastErrorKeeper(const LastErrorKeeper&) = delete;
  LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

 private:
  platform::IKernel& m_kernel;
  const DWORD m_saved;
};

struct Tracer {
  // The process-wide trace lock: record building, date and time bookkeeping, both outputs.
  std::mutex lock;
  std::atomic<platform::IPlatform*> plat{nullptr};
  ModuleNames module;

  // What the registry said last, and what is in force (registry or a sink's override).
  TraceSettings settings;
  ISink* sink = nullptr;
  SinkMode sinkMode = SinkMode::kRecordAll;
  std::atomic<LONG> verbosity{0};
  std::atomic<bool> messagesOn{false};
  std::atomic<DWORD> word{0};

  // Bookkeeping of the record stream (under the lock).
  bool haveDate = false;
  WORD year = 0, month = 0, day = 0;
  std::string lastTime;

  // Outputs, created at the first record that needs them, never replaced while bound.
  std::unique_ptr<COutput> traceOut;
  std::unique_ptr<COutput> logOut;
  bool placesKnown = false;
  std::wstring folder;
  DWORD sessionId = 0;

  // Recomputes what the inline gate and the writers read. Called under the lock.
  void Apply() {
    const bool all = sink != nullptr && sinkMode == SinkMode::kRecordAll;
    const DWORD w = settings.word;
    word.store(w, std::memory_order_relaxed);
    verbosity.store(all ? std::numeric_limits<LONG>::max() : settings.filter.verbosity,
                    std::memory_order_relaxed);
    messagesOn.store(all || (w & kSwitchDoProfiling) == 0, std::memory_order_relaxed);
    const bool open = all || ((w & kSwitchDoTrace) != 0 && settings.filter.componentEnabled);
    detail::g_gate.open.store(open ? 1 : 0, std::memory_order_relaxed);
  }

  void ResetStream() {
    traceOut.reset();
    logOut.reset();
    haveDate = false;
    lastTime.clear();
    placesKnown = false;
    folder.clear();
    sessionId = 0;
  }

  void LearnPlaces(platform::IPlatform& p) {
    if (placesKnown) return;
    placesKnown = true;
    folder = TraceFolder(ReadTraceString(p, L"TracePath"), module);
    DWORD sid = 0;
    sessionId = p.Sessions().ProcessIdToSessionId(p.Kernel().GetCurrentProcessId(), &sid) ? sid : 0;
  }

  // One record to the sink or the outputs. Called under the lock.
  void Emit(DWORD tid, char type, std::string_view text) {
    text = CutUtf8(text, kMaxRecordText);
    if (sink != nullptr) {
      sink->OnRecord(tid, type, text);
      return;
    }
    platform::IPlatform* p = plat.load(std::memory_order_relaxed);
    if (p == nullptr) return;

    BYTE stackBuf[kStackRecordSize];
    std::unique_ptr<BYTE[]> heapBuf;
    BYTE* rec = stackBuf;
    if (kRecordHeaderSize + text.size() > sizeof stackBuf) {
      heapBuf = std::make_unique<BYTE[]>(kRecordHeaderSize + text.size());
      rec = heapBuf.get();
    }
    const std::size_t n = EncodeRecord(rec, tid, type, text);

    const DWORD w = settings.word;
    if (!traceOut) {
      if ((w & kSwitchDoTrace) != 0 && (w & kSwitchTraceToFile) != 0) {
        LearnPlaces(*p);
        const std::wstring path =
            TraceFileName(ReadTraceString(*p, L"FileName"), folder, module, module, sessionId);
        traceOut = std::make_unique<CFileOutput>(*p, path, (w & kSwitchNewFileAlways) != 0);
      } else {
        traceOut = std::make_unique<CNoOutput>();
      }
    }
    traceOut->Write(rec, n);
    if (!logOut && (w & kSwitchDoLog) != 0) {
      LearnPlaces(*p);
      logOut = std::make_unique<CLogFileOutput>(
          p->Kernel(), LogFileName(folder, module, p->Kernel().GetCurrentProcessId()));
    }
    if (logOut) logOut->Write(rec, n);
  }

  void Write(char type, std::string_view text) {
    // Bind changes the platform only while nobody traces, so reading it before the lock is
    // safe; the last error is kept from before the lock is taken to after it is let go.
    platform::IPlatform* p = plat.load(std::memory_order_acquire);
    if (p == nullptr) {
      // Unbound: only a sink can see anything, and there is no clock to stamp it with.
      std::lock_guard lk(lock);
      if (sink != nullptr) Emit(0, type, text);
      return;
    }
    platform::IKernel& k = p->Kernel();
    const LastErrorKeeper keep(k);
    std::lock_guard lk(lock);
    const DWORD tid = k.GetCurrentThreadId();
    SYSTEMTIME now{};
    k.GetLocalTime(&now);
    char buf[32];
    if (!haveDate || now.wYear != year || now.wMonth != month || now.wDay != day) {
      haveDate = true;
      year = now.wYear, month = now.wMonth, day = now.wDay;
      std::snprintf(buf, sizeof buf, "%02u/%02u/%02u", now.wMonth, now.wDay, now.wYear % 100u);
      Emit(tid, kDate, buf);
    }
    std::snprintf(buf, sizeof buf, "%02u:%02u:%02u.%03u", now.wHour, now.wMinute, now.wSecond,
                  now.wMilliseconds);
    if (lastTime != buf) {
      lastTime = buf;
      Emit(tid, kTime, buf);
    }
    Emit(tid, type, text);
  }
};

Tracer& TheTracer() {
  static Tracer t;
  return t;
}

bool LevelRecorded(LONG level) {
  const long long abs = level < 0 ? -static_cast<long long>(level) : level;
  return abs <= TheTracer().verbosity.load(std::memory_order_relaxed);
}

bool MessageRecorded(LONG level) {
  return detail::IsOpen() && TheTracer().messagesOn.load(std::memory_order_relaxed) &&
         LevelRecorded(level);
}

std::string_view ScopeName(const char* name) {
  if (name == nullptr) return "????";
  return CutUtf8(std::string_view(name, strnlen(name, kMaxScopeName + 1)), kMaxScopeName);
}

}  // namespace

void detail::Refresh(DWORD now) {
  DWORD due = g_gate.nextRefresh.load(std::memory_order_relaxed);
  if (static_cast<LONG>(now - due) < 0) return;
  // One thread wins the refresh; the others go on with the settings in force.
  if (!g_gate.nextRefresh.compare_exchange_strong(due, now + kRefreshIntervalMs)) return;
  Tracer& t = TheTracer();
  platform::IPlatform* p = t.plat.load(std::memory_order_acquire);
  if (p == nullptr) return;
  const LastErrorKeeper keep(p->Kernel());
  // Only a changed switch word has the verbosity and the component filter read again, and
  // only then is the lock taken: a refresh that finds the switches as they were costs the
  // scope that runs it a few registry reads and never waits for a thread that is writing.
  const DWORD word = ReadTraceSwitchWord(*p);
  if (word == t.word.load(std::memory_order_relaxed)) return;
  std::lock_guard lk(t.lock);
  if (t.plat.load(std::memory_order_relaxed) != p) return;
  // Outputs that exist stay: a refresh only changes what gets recorded from now on.
  t.settings = {word, ReadTraceFilter(*p, t.module.base)};
  t.Apply();
}

void Bind(platform::IPlatform* platform) {
  Tracer& t = TheTracer();
  std::lock_guard lk(t.lock);
  t.ResetStream();
  t.settings = {};
  t.module = {};
  detail::g_gate.kernel.store(nullptr, std::memory_order_relaxed);
  t.plat.store(platform, std::memory_order_release);
  if (platform != nullptr) {
    platform::IKernel& k = platform->Kernel();
    t.module = GetModuleNames(k);
    // The first scope entry reads the configuration.
    detail::g_gate.nextRefresh.store(k.GetTickCount(), std::memory_order_relaxed);
    detail::g_gate.kernel.store(&k, std::memory_order_release);
  }
  t.Apply();
}

void SetSink(ISink* sink, SinkMode mode) {
  Tracer& t = TheTracer();
  std::lock_guard lk(t.lock);
  t.sink = sink;
  t.sinkMode = mode;
  // The date and time went to the sink: the next stream starts with its own 't' and 'T'.
  t.haveDate = false;
  t.lastTime.clear();
  t.Apply();
}

void CScope::Enter() const {
  if (LevelRecorded(m_level)) TheTracer().Write(kScopeEnter, ScopeName(m_name));
}

void CScope::Leave() const {
  if (LevelRecorded(m_level)) TheTracer().Write(kScopeExit, ScopeName(m_name));
}

void CScope::Msg(const char* fmt, ...) const {
  va_list ap;
  va_start(ap, fmt);
  MsgV(fmt, ap);
  va_end(ap);
}

void CScope::Msg(const wchar_t* fmt, ...) const {
  va_list ap;
  va_start(ap, fmt);
  MsgV(fmt, ap);
  va_end(ap);
}

void CScope::MsgV(const char* fmt, va_list ap) const {
  if (fmt == nullptr || *fmt == 0 || !MessageRecorded(m_level)) return;
  std::string text;
  AppendFormatV(text, kMaxRecordText, fmt, ap, /*wideFormat=*/false);
  TheTracer().Write(kMessage, text);
}

void CScope::MsgV(const wchar_t* fmt, va_list ap) const {
  if (fmt == nullptr || *fmt == 0 || !MessageRecorded(m_level)) return;
  const std::string narrowFmt = WideToUtf8(fmt);
  std::string text;
  AppendFormatV(text, kMaxRecordText, narrowFmt.c_str(), ap, /*wideFormat=*/true);
  TheTracer().Write(kMessage, text);
}

HRESULT CScope::Result(const char* message, HRESULT hr) const {
  if (!IsTracedResult(hr) || !detail::IsOpen() || !LevelRecorded(m_level)) return hr;
  std::string text = std::to_string(hr) + " ";
  if (message != nullptr) text += message;
  TheTracer().Write(kResult, text);
  return hr;
}

HRESULT CScope::Result(const wchar_t* message, HRESULT hr) const {
  if (!IsTracedResult(hr) || !detail::IsOpen() || !LevelRecorded(m_level)) return hr;
  std::string text = std::to_string(hr) + " ";
  if (message != nullptr) text += WideToUtf8(message);
  TheTracer().Write(kResult, text);
  return hr;
}

void CScope::Tag(const char* text) const {
  if (text == nullptr || !MessageRecorded(m_level)) return;
  TheTracer().Write(kTag, text);
}

}  // namespace VDTraceNS
