// The main window's side of the fingerprint logic, as a test sets it: answers to the
// logic's questions, a record of what it asked the window to do, and the posted tasks held
// until the test runs them (as the window's queue would, on the test thread).
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "auth/fingerprint_host.h"

namespace authtest {

class FakeFingerprintHost : public IFingerprintHost {
 public:
  // Answers.
  bool canStart = true;
  HRESULT readyResult = S_OK;
  DWORD selectedQuickAction = 0;
  DWORD feedbackState = 0;
  // Runs inside OnFingerprintReady (e.g. throws).
  std::function<void()> onReady;

  // What was asked, in order ("ready 0x10001", "capture", "feedback 2 3 7", ...).
  std::vector<std::string> calls;
  std::vector<DWORD> readyCaptures;

  bool CanStartAction() override { return canStart; }
  HRESULT OnFingerprintReady(DWORD capture) override {
    readyCaptures.push_back(capture);
    calls.push_back("ready");
    if (onReady) onReady();
    return readyResult;
  }
  void OnReaderConnected() override { calls.push_back("connected"); }
  void OnReaderDisconnected() override { calls.push_back("disconnected"); }
  void StartCapture() override { calls.push_back("capture"); }
  void CompleteCapture() override { calls.push_back("complete"); }
  void ShowFeedback(DWORD kind, DWORD sound, LPARAM detail) override {
    calls.push_back("feedback " + std::to_string(kind) + " " + std::to_string(sound) + " " +
                    std::to_string(detail));
  }
  void FlashTrayIcon() override { calls.push_back("flash"); }
  DWORD SelectedQuickAction() override { return selectedQuickAction; }
  void KwsCommand(DWORD command) override { calls.push_back("kws " + std::to_string(command)); }
  DWORD KwsFeedbackState() override { return feedbackState; }
  // Any thread (the registry watcher posts from its own).
  void Post(std::function<void()> task) override {
    std::lock_guard lk(m_mu);
    m_tasks.push_back(std::move(task));
  }

  std::size_t PendingTasks() {
    std::lock_guard lk(m_mu);
    return m_tasks.size();
  }
  // Runs what is queued now, in order; returns how many ran.
  std::size_t RunTasks() {
    std::vector<std::function<void()>> batch;
    {
      std::lock_guard lk(m_mu);
      batch.swap(m_tasks);
    }
    for (auto& t : batch) t();
    return batch.size();
  }
  std::vector<std::string> TakeCalls() { return std::exchange(calls, {}); }

 private:
  std::mutex m_mu;
  std::vector<std::function<void()>> m_tasks;
};

}  // namespace authtest
