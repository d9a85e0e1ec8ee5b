// The stand-in authentication host service: the one machine-wide keeper of accounts,
// enrollments, policies, readers and protected data that every process's client library
// talks to. Tests and the simulator drive it (start it late, touch a finger, pull a reader)
// and look into it (buffers not given back, calls made, acquisitions running).
//
//   CHostService& host = installation->Host();
//   VDFP_CAPTURE c = host.TouchFinger(L"alice");   // reader events to every running acquisition
//   EXPECT_EQ(host.Buffers().Outstanding(), 0u);
//
// Free of any platform: what it needs from the machine comes through IHostSite.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "standins/vdfpapi/buffers.h"
#include "standins/vdfpapi/description.h"

namespace vdfp_standin {

class CClientLibrary;

// What the host needs from its machine.
class IHostSite {
 public:
  virtual ~IHostSite() = default;
  // The host's readiness event: signalled when it runs, reset when it stops.
  virtual void HostStateChanged(bool running) = 0;
  // Runs `fn` after `delayMs` of the machine's clock, never inside the caller.
  virtual void RunLater(ULONGLONG delayMs, std::function<void()> fn) = 0;
};

// One fingerprint acquisition of one process, as the host sees it.
struct AcquisitionInfo {
  DWORD processId = 0;
  HWND window = nullptr;
  UINT message = 0;
  bool started = false;
  DWORD led = VDFP_LED_OFF;
  unsigned starts = 0;
  unsigned stops = 0;
};

class CHostService {
 public:
  CHostService(VdfpDescription desc, IHostSite& site);
  ~CHostService();
  CHostService(const CHostService&) = delete;
  CHostService& operator=(const CHostService&) = delete;

  // ---- Running ----
  void Start();
  void Stop();
  // Starts after `delayMs` of the machine's clock.
  void StartAfter(ULONGLONG delayMs);
  bool IsRunning() const { return m_running.load(); }

  // ---- Driving (tests and the simulator) ----
  // A finger of `user` (any of the user's names) on the reader: every running acquisition
  // of an initialised process gets finger touched, image ready and completed with the
  // capture. A user without a fingerprint enrolled (or no such user) gives a capture that
  // identifies nobody. Nothing is sent while the host is down or no fingerprint reader is
  // connected; the capture is returned anyway (0 when nothing was sent).
  VDFP_CAPTURE TouchFinger(const std::wstring& user);
  // Any reader event to every running acquisition.
  void PostReaderEvent(WPARAM code, LPARAM data);
  // Pulls or plugs reader `index`: WN_DISCONNECT / WN_RECONNECT to every acquisition.
  void DisconnectReader(std::size_t index = 0);
  void ReconnectReader(std::size_t index = 0);
  // Enrolls (or removes) the token types of `mask` for `user`; false when no such user.
  bool SetEnrolled(const std::wstring& user, ULONGLONG mask, bool enrolled);
  bool SetPolicy(const std::wstring& user, std::vector<ULONGLONG> rules);
  void SetDefaultPolicy(std::vector<ULONGLONG> rules);
  void SetPolicySetting(PolicySettingDesc setting);
  void RemovePolicySetting(const std::wstring& name);
  void SetDialogs(DialogDesc dialogs);
  bool SetDomainState(const std::wstring& name, DWORD state);
  void SetProtectedData(SlotDesc slot);
  void SetAsyncReplyDelay(ULONGLONG ms);
  // Bytes that successful token authentications answer with instead of their DER reply (to
  // stage a malformed reply); no value restores the real one.
  void SetTokenAuthenticateReply(std::optional<std::vector<BYTE>> reply);

  // ---- Looking in ----
  CBufferTracker& Buffers() { return m_buffers; }
  unsigned CallCount(const std::string& operation) const;
  std::optional<SlotDesc> ProtectedData(const std::wstring& slot) const;
  std::vector<AcquisitionInfo> Acquisitions() const;
  std::size_t OutstandingAsyncCalls() const;
  std::size_t OutstandingAuthentications() const;
  // The request bytes of the last VDFPTokenAuthenticate call that reached a token.
  std::vector<BYTE> LastTokenAuthenticateRequest() const;
  // Acquisitions destroyed while still started (the caller skipped the stop).
  unsigned DestroyedRunningAcquisitions() const { return m_destroyedRunning.load(); }
  // Calls that reached the library with no process to serve them (binding faults).
  unsigned OrphanCalls() const { return m_orphanCalls.load(); }
  void NoteOrphanCall() { ++m_orphanCalls; }

  // ---- For the client library ----
  void Attach(const std::shared_ptr<CClientLibrary>& client);
  IHostSite& Site() { return m_site; }
  void Count(const char* operation);
  void NoteDestroyedRunning() { ++m_destroyedRunning; }
  ULONGLONG AsyncReplyDelayMs() const;
  std::optional<std::vector<BYTE>> TokenAuthenticateReply() const;
  void NoteTokenAuthenticateRequest(std::vector<BYTE> request);
  // Users by index; the list is fixed at construction.
  std::optional<std::size_t> FindUser(const std::wstring& name, DWORD format) const;
  std::optional<std::size_t> FindUserByAnyName(const std::wstring& name) const;
  std::wstring UserName(std::size_t user, DWORD format) const;  // empty: no such name
  ULONGLONG Enrolled(std::size_t user) const;
  std::vector<ULONGLONG> PolicyOf(std::size_t user) const;
  std::vector<TokenTypeDesc> Tokens() const;
  std::optional<TokenTypeDesc> Token(const GUID& type) const;
  std::vector<ReaderDesc> Readers() const;
  std::vector<DomainDesc> Domains() const;
  std::optional<PolicySettingDesc> PolicySetting(const std::wstring& name) const;
  DialogDesc Dialogs() const;
  // Whose finger a capture was: no value for a capture the host never made, a value holding
  // nothing for a finger of nobody enrolled.
  std::optional<std::optional<std::size_t>> CaptureOwner(VDFP_CAPTURE capture) const;
  // Protected data: VDFP_E_NOT_FOUND, VDFP_E_INVALID_DATA (entropy) or S_OK with the bytes.
  HRESULT ReadSlot(const std::wstring& slot, const std::vector<BYTE>& entropy,
                   std::vector<BYTE>& data) const;
  void WriteSlot(const std::wstring& slot, std::vector<BYTE> entropy, DWORD flags,
                 std::vector<BYTE> data);

 private:
  std::vector<std::shared_ptr<CClientLibrary>> Clients() const;
  void ReaderChanged(std::size_t index, bool connected);

  IHostSite& m_site;
  CBufferTracker m_buffers;
  std::atomic<bool> m_running{false};
  std::atomic<unsigned> m_destroyedRunning{0};
  std::atomic<unsigned> m_orphanCalls{0};

  mutable std::mutex m_mu;
  VdfpDescription m_desc;
  std::map<std::wstring, SlotDesc> m_slots;  // by upper-case slot name
  std::map<VDFP_CAPTURE, std::optional<std::size_t>> m_captures;
  VDFP_CAPTURE m_nextCapture = 0x00010001;
  std::map<std::string, unsigned> m_calls;
  std::optional<std::vector<BYTE>> m_tokenReply;
  std::vector<BYTE> m_lastTokenRequest;
  std::vector<std::weak_ptr<CClientLibrary>> m_clients;
};

}  // namespace vdfp_standin
