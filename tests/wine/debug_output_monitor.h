// Collects what programs of this session write with OutputDebugString, as DebugView does:
//
//   DebugOutputMonitor monitor;                 // listening from here on
//   ... run something that reports a failure ...
//   EXPECT_TRUE(monitor.Saw("cannot read"));
//
// The protocol is the system's: a writer takes "DBWinMutex", waits for "DBWIN_BUFFER_READY",
// puts its process id and text into the "DBWIN_BUFFER" section and signals "DBWIN_DATA_READY".
// One monitor per session at a time.
#pragma once

#include <windows.h>

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

class DebugOutputMonitor {
 public:
  DebugOutputMonitor() {
    m_bufferReady = ::CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY");
    m_dataReady = ::CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY");
    m_section = ::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSize,
                                     L"DBWIN_BUFFER");
    m_view = m_section ? ::MapViewOfFile(m_section, FILE_MAP_READ, 0, 0, kSize) : nullptr;
    m_stop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (m_bufferReady && m_dataReady && m_view && m_stop)
      m_thread = ::CreateThread(nullptr, 0, &DebugOutputMonitor::Listen, this, 0, nullptr);
  }
  DebugOutputMonitor(const DebugOutputMonitor&) = delete;
  DebugOutputMonitor& operator=(const DebugOutputMonitor&) = delete;
  ~DebugOutputMonitor() {
    if (m_thread) {
      ::SetEvent(m_stop);
      ::WaitForSingleObject(m_thread, INFINITE);
      ::CloseHandle(m_thread);
    }
    if (m_view) ::UnmapViewOfFile(m_view);
    for (HANDLE h : {m_section, m_bufferReady, m_dataReady, m_stop})
      if (h) ::CloseHandle(h);
  }

  bool Listening() const { return m_thread != nullptr; }
  // Whether any text written so far contains `part`.
  bool Saw(const std::string& part) const {
    std::lock_guard lk(m_mu);
    for (const auto& t : m_texts)
      if (t.find(part) != std::string::npos) return true;
    return false;
  }
  // The text reaches the monitor's thread some time after the writer's call: wait for it,
  // within a bound meant for a hung writer, never as a speed claim.
  bool SawWithin(const std::string& part, DWORD ms = 30000) const {
    const ULONGLONG until = ::GetTickCount64() + ms;
    while (!Saw(part)) {
      if (::GetTickCount64() > until) return false;
      ::Sleep(10);
    }
    return true;
  }
  std::string All() const {
    std::lock_guard lk(m_mu);
    std::string all;
    for (const auto& t : m_texts) all += t;
    return all;
  }

 private:
  static constexpr DWORD kSize = 4096;  // a DWORD process id, then the text and its zero

  static DWORD WINAPI Listen(LPVOID self) {
    auto* m = static_cast<DebugOutputMonitor*>(self);
    const HANDLE waits[] = {m->m_dataReady, m->m_stop};
    ::SetEvent(m->m_bufferReady);
    while (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0) {
      const char* text = static_cast<const char*>(m->m_view) + sizeof(DWORD);
      {
        std::lock_guard lk(m->m_mu);
        m->m_texts.emplace_back(text, ::strnlen(text, kSize - sizeof(DWORD)));
      }
      ::SetEvent(m->m_bufferReady);
    }
    return 0;
  }

  HANDLE m_bufferReady = nullptr;
  HANDLE m_dataReady = nullptr;
  HANDLE m_section = nullptr;
  LPVOID m_view = nullptr;
  HANDLE m_stop = nullptr;
  HANDLE m_thread = nullptr;
  mutable std::mutex m_mu;
  std::vector<std::string> m_texts;  // guarded by m_mu
};
