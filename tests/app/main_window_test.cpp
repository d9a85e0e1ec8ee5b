// The main window's creation before the shell exists: it waits for the taskbar and answers
// what others send meanwhile.
#include "app/main_window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "core/messages.h"
#include "platform/sim/desktop.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "platform/sim/session_manager.h"
#include "platform/sim/window_manager.h"
#include "support/trace/trace.h"
#include "support/trace/trace_sink.h"

namespace {

TEST(MainWindowCreationTest, WaitingForALateShellItAnswersSentMessagesWithoutItsHandlers) {
  VDTraceNS::CRecordingSink sink;
  sim::Machine machine;
  const DWORD session = machine.Sessions().CreateSession({.userName = L"bob", .startShell = false});
  auto agentProc = machine.CreateProcess({.sessionId = session});
  auto otherProc = machine.CreateProcess({.sessionId = session, .exePath = L"C:\\Tools\\b.exe"});

  // Another program of the session: once the agent's window exists, it sends it the
  // end-of-session question (as a broadcast to every top-level window would), then starts
  // the shell. Real time bounds only a hang, never a speed.
  std::atomic<bool> sendDone{false};
  std::atomic<bool> shellWasThere{true};
  LRESULT sendResult = 0;
  DWORD_PTR answer = 0;
  std::thread other([&] {
    sim::CurrentProcessScope scope(otherProc.get());
    HWND agent = nullptr;
    for (int i = 0; i < 20000 && !agent; ++i) {
      auto found = machine.Windows().WindowsOfClass(session, core::kAgentWindowClass);
      if (!found.empty())
        agent = found.front();
      else
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (agent) {
      sendResult = otherProc->Ui().SendMessageTimeoutW(agent, WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL,
                                                       5000, &answer);
      shellWasThere = otherProc->Ui().FindWindowW(core::kTaskbarClass, nullptr) != nullptr;
    }
    sendDone = true;
    machine.GetDesktop().StartShell(session);
  });

  {
    sim::CurrentProcessScope scope(agentProc.get());
    VDTraceNS::Bind(agentProc.get());
    core::CAgentProcess agent(*agentProc, nullptr);
    CExceptionSafeWindow<CVdAgentMain> window(agent);
    EXPECT_NE(window.CreateMainWindow(), nullptr);
    other.join();
    EXPECT_TRUE(sendDone);
    EXPECT_NE(sendResult, 0) << "the send timed out: the waiting window answered nothing";
    EXPECT_EQ(answer, static_cast<DWORD_PTR>(TRUE));
    EXPECT_FALSE(shellWasThere) << "answered only once the shell had come";
    // DefWindowProc answered: the window's own handler never ran during creation.
    EXPECT_FALSE(sink.Contains('>', "CVdAgentMain::OnQueryEndSession"));
    window.DestroyWindow();
    VDTraceNS::Bind(nullptr);
  }
}

}  // namespace

namespace {

// The window's mailslot listener: code 2 locks, every other code only traces; all 32 bits
// of the code count. The window's inbox exists from construction, so the mailslot is there.
TEST(MainWindowInboundTest, CodeTwoLocksAndOtherCodesOnlyTrace) {
  VDTraceNS::CRecordingSink sink;
  sim::Machine machine;
  const DWORD session = machine.Sessions().CreateSession({.userName = L"bob"});
  auto agentProc = machine.CreateProcess({.sessionId = session});
  sim::CurrentProcessScope scope(agentProc.get());
  core::CAgentProcess agent(*agentProc, nullptr);
  CExceptionSafeWindow<CVdAgentMain> window(agent);
  const std::wstring path = L"\\\\.\\mailslot\\{2FFE588A-4B8E-4F7F-A927-4162BD973FF2}:" +
                            std::to_wstring(session);
  platform::IKernel& k = agentProc->Kernel();
  HANDLE writer =
      k.CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(writer, INVALID_HANDLE_VALUE) << "the inbox's mailslot exists with the window";
  k.CloseHandle(writer);

  window.OnInboundMessage(0x102, nullptr, 0);
  EXPECT_EQ(machine.GetDesktop().Session(session).lockRequests, 0);
  EXPECT_TRUE(sink.Contains('U', "Bluetooth proximity message = 0x102"));
  const BYTE payload[2] = {1, 2};
  window.OnInboundMessage(2, payload, 2);
  EXPECT_EQ(machine.GetDesktop().Session(session).lockRequests, 1);
  EXPECT_TRUE(sink.Contains('U', "Lock workstation..."));
}

}  // namespace
