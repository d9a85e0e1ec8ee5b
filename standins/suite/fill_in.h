// The stand-in fill-in component of the password manager: what its DLL keeps per process
// (the window replies go to, the commands it was given) and its three entry points. Commands
// are answered from the description; replies are posted as the description says, or when a
// test or the simulator asks (PostReply).
//
//   CFillInComponent c(desc.fillIn, site);
//   c.Init(hwnd, kVDKwsReplyMessage);
//   DWORD result;  c.Command(100, handle, &result);   // "command 100 param 0x..." recorded
//   c.PostReply(1, 1);                                 // ShowMenu to hwnd
//
// Command 100 hands over an authentication handle: from then on it is the component's, which
// gives it back to the authentication library (IFillInSite::ReleaseAuthentication) once the
// command has run. Free of any platform: what it needs goes through IFillInSite.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "standins/suite/description.h"

namespace suite_standin {

inline constexpr DWORD kFillInCommandWithAuthentication = 100;

class IFillInSite {
 public:
  virtual ~IFillInSite() = default;
  virtual BOOL PostMessageW(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) = 0;
  // Runs `fn` after `delayMs`, never inside the caller.
  virtual void RunLater(ULONGLONG delayMs, std::function<void()> fn) = 0;
  // One line of what the component did ("init", "command 100 param 0x1004", ...).
  virtual void Record(const std::wstring& text) = 0;
  // The component is done with an authentication handle it was given: S_OK when the library
  // took it back.
  virtual HRESULT ReleaseAuthentication(ULONG_PTR handle) = 0;
};

class CFillInComponent : public std::enable_shared_from_this<CFillInComponent> {
 public:
  CFillInComponent(FillInDesc desc, std::shared_ptr<IFillInSite> site);
  CFillInComponent(const CFillInComponent&) = delete;
  CFillInComponent& operator=(const CFillInComponent&) = delete;

  // ---- The entry points ----
  HRESULT Init(HWND hWnd, UINT replyMessage);
  HRESULT Command(DWORD code, ULONG_PTR param, DWORD* result);
  void Terminate();

  // ---- Driving (tests and the simulator) ----
  // Posts a reply to the window given at init; false when there is none (not initialised,
  // terminated) or the post failed.
  bool PostReply(WPARAM kind, LPARAM value);
  void SetCommand(DWORD code, FillInCommandDesc command);

  // ---- Looking in ----
  HWND Window() const;
  std::vector<std::wstring> Records() const;
  // Authentication handles received with command 100, and those given back to the library.
  unsigned HandlesReceived() const;
  unsigned HandlesReleased() const;

 private:
  void Record(std::wstring text);

  std::shared_ptr<IFillInSite> m_site;
  mutable std::mutex m_mu;
  FillInDesc m_desc;
  HWND m_window = nullptr;
  UINT m_message = 0;
  unsigned m_generation = 0;  // moves on Init and Terminate: late replies of an old one drop
  std::vector<std::wstring> m_records;
  unsigned m_handlesReceived = 0;
  unsigned m_handlesReleased = 0;
};

// "command 100 param 0x1004".
std::wstring CommandText(DWORD code, ULONG_PTR param);

}  // namespace suite_standin
