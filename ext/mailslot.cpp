#include "ext/mailslot.h"

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

#include "support/result_error.h"
#include "support/trace/trace.h"

namespace Mailslot {

namespace {

constexpr const wchar_t* kBthMailslotId = L"{2FFE588A-4B8E-4F7F-A927-4162BD973FF2}";

DWORD ReadLittleEndian32(const BYTE* p) {
  return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) |
         (static_cast<DWORD>(p[2]) << 16) | (static_cast<DWORD>(p[3]) << 24);
}

HRESULT LastErrorResult(platform::IKernel& k) {
  const HRESULT hr = HRESULT_FROM_WIN32(k.GetLastError());
  return FAILED(hr) ? hr : E_FAIL;
}

}  // namespace

std::optional<Datagram> DecodeDatagram(const BYTE* data, size_t size) {
  if (!data || size < 8 || size > kMaxDatagramSize) return std::nullopt;
  Datagram d;
  d.id = ReadLittleEndian32(data);
  d.code = ReadLittleEndian32(data + 4);
  d.payloadSize = static_cast<DWORD>(size - 8);
  d.payload = d.payloadSize ? data + 8 : nullptr;
  return d;
}

bool RepeatFilter::Accept(DWORD id) {
  if (m_last && *m_last == id) return false;
  m_last = id;
  return true;
}

std::wstring GetBthMailslotName(platform::IKernel& kernel, platform::ISessions& sessions) {
  VDTraceNS::CScope ts("GetBthMailslotName");
  DWORD session = 0;
  if (!sessions.ProcessIdToSessionId(kernel.GetCurrentProcessId(), &session))
    throw CResultError(ts.Result("ProcessIdToSessionId", LastErrorResult(kernel)));
  std::wstring name = std::wstring(kBthMailslotId) + L":" + std::to_wstring(session);
  ts.Msg(L"GetMailslotName(), '%ls'", name.c_str());
  return name;
}

// ---- Mailslot --------------------------------------------------------------------------------

Mailslot::Mailslot(platform::IKernel& kernel, std::wstring name, std::wstring server)
    : m_kernel(kernel),
      m_server(std::move(server)),
      m_name(std::move(name)),
      m_hSlot(std::make_shared<platform::UniqueFile>(kernel)) {}

std::wstring Mailslot::Path() const { return L"\\\\" + m_server + L"\\mailslot\\" + m_name; }

// ---- Inbox -----------------------------------------------------------------------------------

// What the reader thread needs; shared with it so that a reader that outlives a stop (or
// the inbox) still finds valid handles, and closes them when it ends.
struct Inbox::Shared {
  Shared(platform::IKernel& k, platform::IUi& u, std::shared_ptr<platform::UniqueFile> s)
      : kernel(k), ui(u), slot(std::move(s)), stop(k) {}
  platform::IKernel& kernel;
  platform::IUi& ui;
  std::shared_ptr<platform::UniqueFile> slot;
  platform::UniqueHandle stop;  // manual-reset; set while no reader should run
  std::mutex listenerMu;        // held for each call of the listener and to change it
  Events* listener = nullptr;
};

// One run of the reader: its repeat filter and its one read.
struct Inbox::Reader {
  RepeatFilter filter;
  OVERLAPPED ov{};
  std::vector<BYTE> buffer;  // the read's buffer: lives as long as the read may be pending
  bool pending = false;      // a read is outstanding on `ov`
};

Inbox::Inbox(platform::IKernel& kernel, platform::IUi& ui, std::wstring name,
             LPSECURITY_ATTRIBUTES security)
    : Mailslot(kernel, std::move(name)),
      m_shared(std::make_shared<Shared>(kernel, ui, m_hSlot)),
      m_hThread(kernel) {
  VDTraceNS::CScope ts("Mailslot::Inbox::Inbox");
  m_shared->stop.reset(kernel.CreateEventW(nullptr, TRUE, TRUE, nullptr));
  if (!m_shared->stop) ts.Result("CreateEventW", LastErrorResult(kernel));
  // A bounded size: the mailslot itself refuses larger datagrams, so none waits unread.
  m_hSlot->reset(kernel.CreateMailslotW(Path().c_str(), kMaxDatagramSize, MAILSLOT_WAIT_FOREVER,
                                        security));
  if (!*m_hSlot) ts.Result("CreateMailslotW", LastErrorResult(kernel));
}

Inbox::~Inbox() {
  // A reader that does not stop in time keeps its own share of the state and ends alone.
  Notify(nullptr);
}

bool Inbox::IsRunning() {
  return m_hThread && m_kernel.WaitForSingleObject(m_hThread.get(), 0) == WAIT_TIMEOUT;
}

void Inbox::Notify(Events* listener) {
  VDTraceNS::CScope ts("Mailslot::Inbox::Notify");
  if (listener) {
    if (IsRunning() || !m_shared->stop) return;
    {
      std::lock_guard lk(m_shared->listenerMu);
      m_shared->listener = listener;
    }
    m_kernel.ResetEvent(m_shared->stop.get());
    auto* param = new std::shared_ptr<Shared>(m_shared);
    HANDLE h = m_kernel.CreateThread(nullptr, 0, &Inbox::ThreadMain, param, 0, nullptr);
    if (!h) {
      ts.Result("CreateThread", LastErrorResult(m_kernel));
      delete param;
      m_kernel.SetEvent(m_shared->stop.get());
      std::lock_guard lk(m_shared->listenerMu);
      m_shared->listener = nullptr;
      return;
    }
    // Any earlier run has ended (IsRunning was false): its handle goes now.
    m_hThread.reset(h);
    return;
  }
  if (IsRunning()) {
    m_kernel.SetEvent(m_shared->stop.get());
    if (m_kernel.WaitForSingleObject(m_hThread.get(), kStopWaitMs) != WAIT_OBJECT_0)
      ts.Msg("Cannot stop thread.");
  }
  // Waits for a listener call in progress: none runs or starts once this returns.
  std::lock_guard lk(m_shared->listenerMu);
  m_shared->listener = nullptr;
}

DWORD WINAPI Inbox::ThreadMain(LPVOID param) {
  std::unique_ptr<std::shared_ptr<Shared>> shared(static_cast<std::shared_ptr<Shared>*>(param));
  WaitMessages(**shared);
  return 0;
}

void Inbox::WaitMessages(Shared& s) {
  VDTraceNS::CScope ts("Mailslot::Inbox::WaitMessages");
  platform::IKernel& k = s.kernel;
  Reader r;
  platform::UniqueHandle readDone(k, k.CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!readDone) ts.Result("CreateEventW", LastErrorResult(k));
  r.ov.hEvent = readDone.get();
  DWORD retryMs = 0;  // 0: the last pass succeeded, wait without a time-out
  for (;;) {
    ts.Msg("Loop");
    // One read at a time: while one is pending its completion is what wakes us.
    if (!r.pending) {
      const HRESULT hr = readDone ? Receive(s, r) : E_UNEXPECTED;
      const DWORD next = SUCCEEDED(hr) ? 0
                         : retryMs     ? std::min(retryMs * 2, kLastRetryMs)
                                       : kFirstRetryMs;
      if (next != retryMs) {
        if (next)
          ts.Msg("Retry in %lu ms", static_cast<unsigned long>(next));
        else
          ts.Msg("Receiving again");
      }
      retryMs = next;
    }
    ts.Msg("Waiting...");
    HANDLE handles[2] = {readDone.get(), s.stop.get()};
    const DWORD count = readDone ? 2 : 1;
    const DWORD w = s.ui.MsgWaitForMultipleObjects(count, readDone ? handles : handles + 1, FALSE,
                                                   retryMs ? retryMs : INFINITE, QS_ALLINPUT);
    ts.Msg("Received");
    if (w == WAIT_OBJECT_0 + count - 1) break;  // the stop event
    if (w == WAIT_OBJECT_0 + count) {
      MSG msg;
      while (s.ui.PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        s.ui.TranslateMessage(&msg);
        s.ui.DispatchMessageW(&msg);
      }
      continue;
    }
    if (w == WAIT_OBJECT_0 && r.pending) {
      // The pending read has ended; a zero-length one only announces a datagram.
      r.pending = false;
      DWORD bytes = 0;
      if (k.GetOverlappedResult(s.slot->get(), &r.ov, &bytes, FALSE) && bytes) Take(ts, s, r, bytes);
      continue;
    }
    if (w == WAIT_FAILED) {
      ts.Result("MsgWaitForMultipleObjects", LastErrorResult(k));
      break;
    }
    // WAIT_TIMEOUT: the failed pass is retried.
  }
  k.CancelIo(s.slot->get());
  if (r.pending) {
    // The record and buffer must outlive the cancelled read.
    DWORD bytes = 0;
    k.GetOverlappedResult(s.slot->get(), &r.ov, &bytes, TRUE);
  }
  ts.Msg("Loop finished");
  std::lock_guard lk(s.listenerMu);
  if (s.listener) s.listener->OnInboxStopped();
}

HRESULT Inbox::Receive(Shared& s, Reader& r) {
  VDTraceNS::CScope ts("Mailslot::Inbox::Receive");
  platform::IKernel& k = s.kernel;
  try {
    for (;;) {
      ts.Msg("Loop");
      DWORD next = 0;
      DWORD count = 0;
      if (!k.GetMailslotInfo(s.slot->get(), nullptr, &next, &count, nullptr))
        throw CResultError(ts.Result("GetMailslotInfo", LastErrorResult(k)));
      ts.Msg("count=%lu", static_cast<unsigned long>(count));
      if (next == MAILSLOT_NO_MESSAGE) next = 0;
      if (next > kMaxDatagramSize) throw CResultError(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
      r.buffer.assign(next, 0);
      DWORD read = 0;
      if (k.ReadFile(s.slot->get(), next ? r.buffer.data() : nullptr, next, &read, &r.ov)) {
        Take(ts, s, r, read);
        continue;
      }
      const DWORD error = k.GetLastError();
      if (error == ERROR_INSUFFICIENT_BUFFER) {
        ts.Msg("ERROR_INSUFFICIENT_BUFFER");
        continue;
      }
      if (error == ERROR_IO_PENDING) {
        ts.Msg("ERROR_IO_PENDING");
        r.pending = true;
        return S_OK;
      }
      ts.Msg("Bad error 0x%X", static_cast<unsigned>(error));
      throw CResultError(HRESULT_FROM_WIN32(error));
    }
  } catch (const CResultError& e) {
    return ts.Result("Receive", e.Result());
  } catch (...) {
    return ts.Result("Receive", E_UNEXPECTED);
  }
}

void Inbox::Take(const VDTraceNS::CScope& ts, Shared& s, Reader& r, DWORD size) {
  ts.Msg("Read OK, size=%lu", static_cast<unsigned long>(size));
  const auto d = DecodeDatagram(r.buffer.data(), std::min<size_t>(size, r.buffer.size()));
  // A short datagram or a repeat is skipped and reading goes on with the next datagram,
  // so neither leaves the inbox without a read pending.
  if (!d) {
    ts.Msg("Wrong size, return");
    return;
  }
  ts.Msg("IDs: %lu, %lu", static_cast<unsigned long>(r.filter.Last().value_or(0xFFFFFFFFu)),
         static_cast<unsigned long>(d->id));
  if (!r.filter.Accept(d->id)) return;
  ts.Msg("Calling Listener");
  std::lock_guard lk(s.listenerMu);
  if (s.listener) s.listener->OnInboundMessage(d->code, d->payload, d->payloadSize);
}

}  // namespace Mailslot
