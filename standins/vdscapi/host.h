// The stand-in smart-card library's model: the machine's card readers, the card in each, and
// the processes that subscribed to card events. Tests, the simulator and VDCardStandIn.exe
// drive it; every process's VDSCApi entry points call into it.
//
//   CCardHost& cards = installation->Host();
//   cards.Insert(L"Sim Contactless Reader", L"alice-badge");  // 3, then 5 (multiplexing)
//   cards.Remove(L"Sim Contactless Reader");                  // 4
//   cards.Tap(L"Sim Contactless Reader", L"alice-badge");     // 3, 5, and 4 after kTapHoldMs
//   cards.UnplugReader(L"Sim Contactless Reader");            // (4 for a card in it), 2
//
// Events are posted to each subscriber's window as its message, wParam the event and lParam
// the reader's name: a string the model keeps for its whole life (readers are never
// forgotten, only unplugged), so a message still queued after the reader went stays readable.
// Who owns a card, and which credentials a user enrolled, come from the authentication host.
// Free of any platform: posting, timing and strings go through ICardSite.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "standins/vdfpapi/host.h"
#include "standins/vdscapi/description.h"
#include "support/vdfp/vdsc_api.h"

namespace vdsc_standin {

// The card subsystem's own codes, as the system's smart-card service gives them.
inline constexpr HRESULT kNoCard = static_cast<HRESULT>(0x8010000CL);  // no card in the reader
inline constexpr HRESULT kUnknownReader = static_cast<HRESULT>(0x80100009L);
inline constexpr HRESULT kReaderUnavailable = static_cast<HRESULT>(0x80100017L);  // unplugged

// How long a tapped card stays on the reader: past the agent's 200 ms ready check, well
// short of its 1500 ms removal check.
inline constexpr ULONGLONG kTapHoldMs = 500;

// What the model needs from its machine and the calling process.
class ICardSite {
 public:
  virtual ~ICardSite() = default;
  virtual BOOL PostMessageW(DWORD processId, HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) = 0;
  // Runs `fn` after `delayMs` of the machine's clock, never inside the caller.
  virtual void RunLater(ULONGLONG delayMs, std::function<void()> fn) = 0;
  // An automation string of the calling process, freed by the caller with SysFreeString.
  virtual BSTR AllocString(const std::wstring& s) = 0;
  // The user (the authentication host's index) of an authentication operation of the calling
  // process; nothing for a handle it does not know.
  virtual std::optional<std::size_t> AuthenticationUser(DWORD processId, HVDFPAUTHENTICATION h) = 0;
};

// A driving request the machine cannot carry out (no such reader or card, a reader holding a
// card already); the message says which.
class CardError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Subscriber {
  int initCount = 0;
  HWND window = nullptr;  // null: initialised without events
  UINT message = 0;
};

class CCardHost {
 public:
  CCardHost(CardsDescription desc, vdfp_standin::CHostService& users, ICardSite& site);
  CCardHost(const CCardHost&) = delete;
  CCardHost& operator=(const CCardHost&) = delete;

  // ---- Driving (tests, the simulator, VDCardStandIn.exe); CardError when impossible ----
  // Plugs a reader in: event 1, then the events of a card lying in it. A name not described
  // adds a multiplexing reader. Plugging a plugged reader does nothing.
  void PlugReader(const std::wstring& reader);
  // Pulls a reader: event 4 for a card in it (the card stays in the reader), then 2.
  void UnplugReader(const std::wstring& reader);
  // Puts a card (by name, or by its id in decimal) in a plugged reader: event 3, then 5 on a
  // multiplexing reader. No card named: the first described card that is in no reader.
  // Returns the card's name.
  std::wstring Insert(const std::wstring& reader, const std::wstring& card = L"");
  // Takes the card out of a reader: event 4 (none for an unplugged reader). Returns the
  // card's name.
  std::wstring Remove(const std::wstring& reader);
  // A contactless tap: Insert now, and the card leaves (event 4) after `holdMs` of the
  // machine's clock unless it was taken out meanwhile.
  void Tap(const std::wstring& reader, const std::wstring& card = L"",
           ULONGLONG holdMs = kTapHoldMs);

  // ---- Looking in ----
  std::vector<CardReaderDesc> Readers() const;
  // The name of the card in a reader; nothing when empty or no such reader.
  std::optional<std::wstring> CardIn(const std::wstring& reader) const;
  std::optional<Subscriber> SubscriberOf(DWORD processId) const;
  unsigned CallCount(const std::string& entryPoint) const;

  // ---- The entry points, for the calling process ----
  HRESULT Init(DWORD processId, const VDSC_INIT* pInit);
  HRESULT Term(DWORD processId);
  HRESULT GetCardInfo(DWORD processId, LPCWSTR pwszReader, BSTR* pbstrDescription,
                      VDSC_CARD_INFO* pInfo);
  HRESULT TokenIdentify(DWORD processId, LPCWSTR pwszReader, DWORD dwNameFormat,
                        BSTR* pbstrUserName);
  HRESULT TokenAuthenticate(DWORD processId, HVDFPAUTHENTICATION hAuthentication,
                            LPCWSTR pwszReader, DWORD dwFlags);
  HRESULT NotImplemented(const char* entryPoint);

 private:
  struct Reader {
    std::wstring name;  // never changes: event messages point at it
    ReaderKind kind;
    bool connected;
    std::optional<std::size_t> card;  // index into m_cards
  };
  struct Post {
    DWORD processId;
    HWND window;
    UINT message;
    WPARAM event;
    LPARAM reader;
  };

  Reader* FindReader(const std::wstring& name);
  const Reader* FindReader(const std::wstring& name) const;
  std::optional<std::size_t> FindCard(const std::wstring& name) const;
  // The events a card put in (or found in) a reader raises, to every subscriber.
  void QueueCardEvents(const Reader& r, std::vector<Post>& out) const;
  void QueueEvent(WPARAM event, const Reader& r, std::vector<Post>& out) const;
  void Send(const std::vector<Post>& posts);
  void Count(const char* entryPoint);
  // The card in a reader for a library call: its index, or the failure.
  HRESULT CardForCall(LPCWSTR pwszReader, std::size_t& card) const;

  vdfp_standin::CHostService& m_users;
  ICardSite& m_site;
  mutable std::mutex m_mu;
  std::deque<Reader> m_readers;  // a deque: element addresses stay put as readers are added
  std::vector<CardDesc> m_cards;
  std::map<DWORD, Subscriber> m_subscribers;
  std::map<std::string, unsigned> m_calls;
};

}  // namespace vdsc_standin
