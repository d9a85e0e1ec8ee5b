// The main window's side of the card logic, as a test sets it: its scheduled checks run on
// the simulated machine's clock, its posted tasks wait until the test runs them, and what
// the logic asked of the window is recorded.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "auth/card_host.h"
#include "platform/sim/machine.h"

namespace authtest {

class FakeCardHost : public ICardHost {
 public:
  explicit FakeCardHost(sim::Machine& m) : m_machine(m) {}
  ~FakeCardHost() override {
    for (auto& [id, clockId] : m_scheduled) m_machine.GetClock().Cancel(clockId);
  }

  struct Ready {
    std::wstring reader;
    CCardRecord record;
  };
  bool canStart = true;
  HWND window = reinterpret_cast<HWND>(0x1234);
  int captures = 0;
  std::vector<Ready> ready;
  std::vector<CCardRecord> removed;
  // Runs inside OnCardReady / OnCardRemoved when set (the window's quick actions).
  std::function<void(const std::wstring&, const CCardRecord&)> onReady;
  std::function<void(const CCardRecord&)> onRemoved;

  HWND Window() override { return window; }
  bool CanStartAction() override { return canStart; }
  void StartCapture() override { ++captures; }
  void OnCardReady(const std::wstring& reader, const CCardRecord& record) override {
    ready.push_back({reader, record});
    if (onReady) onReady(reader, record);
  }
  void OnCardRemoved(const CCardRecord& record) override {
    removed.push_back(record);
    if (onRemoved) onRemoved(record);
  }
  void Post(std::function<void()> task) override { m_posted.push_back(std::move(task)); }
  UINT Schedule(UINT delayMs, std::function<bool(UINT)> task) override {
    const UINT id = m_nextId++;
    auto& clock = m_machine.GetClock();
    m_scheduled[id] = clock.ScheduleAt(clock.NowMs() + delayMs, [this, id, task] {
      m_scheduled.erase(id);
      task(id);
      RunPosted();  // the window runs posted work right after the timer's message
    });
    return id;
  }
  void CancelSchedule(UINT id) override {
    auto it = m_scheduled.find(id);
    if (it == m_scheduled.end()) return;
    m_machine.GetClock().Cancel(it->second);
    m_scheduled.erase(it);
  }

  // Virtual time goes on by `ms`, running what falls due and what it posts.
  void Advance(ULONGLONG ms) {
    m_machine.GetClock().AdvanceBy(ms);
    RunPosted();
  }
  void RunPosted() {
    while (!m_posted.empty()) {
      auto task = std::move(m_posted.front());
      m_posted.erase(m_posted.begin());
      task();
    }
  }
  std::size_t Scheduled() const { return m_scheduled.size(); }
  std::size_t Posted() const { return m_posted.size(); }

 private:
  sim::Machine& m_machine;
  std::map<UINT, uint64_t> m_scheduled;
  std::vector<std::function<void()>> m_posted;
  UINT m_nextId = 500;
};

}  // namespace authtest
