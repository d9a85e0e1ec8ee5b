// The mailslot inbox: other parts of the suite (the Bluetooth proximity service above all)
// send the agent of a session small datagrams; a reader thread hands each new one to a
// listener.
//
//   Mailslot::Inbox inbox(kernel, ui, Mailslot::GetBthMailslotName(kernel, sessions), nullptr);
//   inbox.Notify(&listener);   // receiving starts (reader thread)
//   inbox.Notify(nullptr);     // receiving stops; Notify(&listener) may start it again
//
// Datagram (little-endian, at least 8 bytes): id (4), code (4), payload (the rest). A
// datagram whose id equals the id accepted last is a repeat and is dropped; only
// consecutive repeats are, and the first datagram is never one, whatever its id.
//
// Threads: Notify and destruction on the owner's thread. The listener is called on the
// reader thread, under the inbox's listener lock: once Notify(nullptr) has returned no call
// is running or will come, even when the reader failed to stop in time (then it goes on
// alone with its own share of the state and ends when it next wakes).
// Notify(nullptr) waits for a call in progress, so a listener must not wait for the owner's
// thread (no SendMessage to its window); the agent's own listener only posts and locks.
//
// Reading: a pass reads what is queued, then leaves a zero-length overlapped read pending
// whose completion wakes the reader. A pass that fails (a failed call, or under Wine, where
// overlapped mailslot reads never pend and a zero-length read fails) is retried after 1 s,
// doubling up to 60 s while it keeps failing. Under Wine the reader therefore never blocks
// in a read (reads are only made for a datagram already queued), so the stop event alone
// ends it; no wake-up datagram is needed.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/handles.h"
#include "platform/kernel.h"
#include "platform/sessions.h"
#include "platform/ui.h"

namespace VDTraceNS {
class CScope;
}

namespace Mailslot {

// Datagrams larger than this are refused by the mailslot (writers fail), so no datagram
// forces a large allocation.
constexpr DWORD kMaxDatagramSize = 64 * 1024;

struct Datagram {
  DWORD id = 0;
  DWORD code = 0;
  const BYTE* payload = nullptr;  // into the decoded bytes; null when size is 0
  DWORD payloadSize = 0;
};

// The fields of a datagram; nothing when it is shorter than 8 bytes. Reads byte by byte, so
// any alignment of `data` is fine.
std::optional<Datagram> DecodeDatagram(const BYTE* data, size_t size);

// Drops consecutive repeats. Owned by one reader run: a restart starts with no id.
class RepeatFilter {
 public:
  // True for a new datagram (its id is remembered), false for a repeat.
  bool Accept(DWORD id);
  std::optional<DWORD> Last() const { return m_last; }

 private:
  std::optional<DWORD> m_last;  // none until the first datagram is accepted
};

// "{2FFE588A-4B8E-4F7F-A927-4162BD973FF2}:<session>" for the session of this process;
// raises CResultError when the session cannot be found.
std::wstring GetBthMailslotName(platform::IKernel& kernel, platform::ISessions& sessions);

class Mailslot {
 public:
  Mailslot(platform::IKernel& kernel, std::wstring name, std::wstring server = L".");
  // "\\<server>\mailslot\<name>".
  std::wstring Path() const;
  bool IsValid() const { return static_cast<bool>(*m_hSlot); }

 protected:
  platform::IKernel& m_kernel;
  std::wstring m_server;
  std::wstring m_name;
  // Shared with a reader thread that may outlive the object (see Inbox).
  std::shared_ptr<platform::UniqueFile> m_hSlot;
};

class Inbox : public Mailslot {
 public:
  class Events {
   public:
    // A new datagram, on the reader thread.
    virtual void OnInboundMessage(DWORD code, const BYTE* payload, DWORD size) = 0;
    // The reader thread ends (once per run, while the listener is still set).
    virtual void OnInboxStopped() = 0;

   protected:
    ~Events() = default;
  };

  // Creates the mailslot (`security` may be null); a failure is traced and leaves an
  // inbox whose reader only waits to be stopped.
  Inbox(platform::IKernel& kernel, platform::IUi& ui, std::wstring name,
        LPSECURITY_ATTRIBUTES security);
  ~Inbox();
  Inbox(const Inbox&) = delete;
  Inbox& operator=(const Inbox&) = delete;

  // Non-null starts receiving (nothing when a reader runs); null stops it, waiting up to
  // 10 s for the reader.
  void Notify(Events* listener);
  bool IsRunning();

  static constexpr DWORD kStopWaitMs = 10000;
  static constexpr DWORD kFirstRetryMs = 1000;
  static constexpr DWORD kLastRetryMs = 60000;

 private:
  struct Shared;
  struct Reader;
  static DWORD WINAPI ThreadMain(LPVOID param);
  static void WaitMessages(Shared& s);
  static HRESULT Receive(Shared& s, Reader& r);
  // A datagram of `size` bytes read into the reader's buffer: decoded, filtered, delivered.
  static void Take(const VDTraceNS::CScope& ts, Shared& s, Reader& r, DWORD size);

  std::shared_ptr<Shared> m_shared;
  platform::UniqueHandle m_hThread;
};

}  // namespace Mailslot
