// The session's fingerprint acquisition: initialises the authentication library (waiting
// for the host service when it is not up yet), turns reader events into actions.
// A mixin of the main window: it only routes the window's events to CFingerprintLogic.
//
// The window answers the logic's questions (IFingerprintHost) when it derives from that
// interface; until then a stand-by host runs tasks on the window's queue and starts no
// action.
#pragma once

#include <functional>
#include <optional>
#include <type_traits>

#include "auth/fingerprint_host.h"
#include "auth/fingerprint_logic.h"
#include "core/message_map.h"
#include "core/messages.h"
#include "support/trace/trace.h"

template <class T>
class CFingerprintHandler {
 public:
  VD_BEGIN_MSG_MAP()
  VD_MESSAGE_HANDLER(uMsg == WM_CREATE, OnCreate)
  VD_MESSAGE_HANDLER(uMsg == WM_DESTROY || uMsg == WM_ENDSESSION, OnDestroy)
  VD_MESSAGE_HANDLER(uMsg == core::WM_VD_READY, OnReady)
  VD_MESSAGE_HANDLER(uMsg == core::WM_VD_FINGERPRINT, OnFingerprintMessage)
  VD_END_MSG_MAP()

  // Watcher, acquisition, library; safe to run twice.
  void Dispose() {
    if (m_logic) {
      m_logic->Dispose();
    } else {
      VDTraceNS::CScope ts("CFingerprintHandler<class CVdAgentMain>::Dispose");
    }
  }

  // The acquisition and its control (the password-manager handler's too). Null before
  // WM_CREATE.
  CFingerprintLogic* Fingerprint() { return m_logic ? &*m_logic : nullptr; }

  static const char* EventText(WPARAM code) { return CFingerprintLogic::EventText(code); }

 protected:
  T& Self() { return static_cast<T&>(*this); }

 private:
  // Until the window answers for itself: no action starts, nothing is trained.
  class CStandByHost final : public IFingerprintHost {
   public:
    explicit CStandByHost(T& w) : m_w(w) {}
    bool CanStartAction() override { return false; }
    HRESULT OnFingerprintReady(DWORD) override { return E_NOTIMPL; }
    void OnReaderConnected() override {}
    void OnReaderDisconnected() override {}
    void StartCapture() override {}
    void CompleteCapture() override {}
    void ShowFeedback(DWORD, DWORD, LPARAM) override {}
    void FlashTrayIcon() override {}
    DWORD SelectedQuickAction() override { return 0; }
    void KwsCommand(DWORD) override {}
    DWORD KwsFeedbackState() override { return 0; }
    void Post(std::function<void()> task) override { m_w.Post(std::move(task)); }

   private:
    T& m_w;
  };

  IFingerprintHost& Host() {
    if constexpr (std::is_base_of_v<IFingerprintHost, T>) {
      return Self();
    } else {
      if (!m_standBy) m_standBy.emplace(Self());
      return *m_standBy;
    }
  }

  LRESULT OnCreate(UINT, WPARAM, LPARAM) {
    Self().SetMsgHandled(FALSE);
    if (!m_logic) {
      auto& process = Self().Process();
      m_logic.emplace(process.Platform(), process.AuthLibrary(), process.AcquisitionWanted, Host());
    }
    m_logic->OnCreate(Self().m_hWnd);
    return 0;
  }
  LRESULT OnDestroy(UINT uMsg, WPARAM wParam, LPARAM) {
    Self().SetMsgHandled(FALSE);
    if (uMsg == WM_ENDSESSION && !wParam) return 0;
    Dispose();
    return 0;
  }
  LRESULT OnReady(UINT, WPARAM, LPARAM) {
    Self().SetMsgHandled(FALSE);
    if (m_logic) {
      m_logic->OnReady();
    } else {
      VDTraceNS::CScope ts("CFingerprintHandler<class CVdAgentMain>::OnReady");
    }
    return 0;
  }
  LRESULT OnFingerprintMessage(UINT, WPARAM wParam, LPARAM lParam) {
    if (m_logic) {
      m_logic->OnFingerprintMessage(wParam, lParam);
    } else {
      VDTraceNS::CScope ts("CFingerprintHandler<class CVdAgentMain>::OnFingerprintMessage");
      ts.Msg("%s", EventText(wParam));
    }
    return 0;
  }

  std::optional<CStandByHost> m_standBy;
  std::optional<CFingerprintLogic> m_logic;
};
