// A simulated Windows machine: registry, kernel objects, thread pool, files, windows,
// sessions and an observable desktop, all on one virtual clock.
//
//   sim::Machine m;                                  // default description
//   auto agent = m.CreateProcess({.sessionId = 1, .exePath = L"C:\\Program
//   Files\\Veridane\\VdAgent.exe"}); platform::IPlatform& plat = *agent;              // what the
//   logic gets
//   ... m.AdvanceBy(30000); m.RunUntilIdle(); m.GetDesktop() ...
//
// Several processes (in the same or in other sessions) can live on one machine; each is a
// `sim::Process`. Threads are real threads: a simulated thread is whatever real thread calls
// in, identified by a machine-wide thread id.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/sim/appearance.h"
#include "platform/sim/clock.h"
#include "platform/win_types.h"

namespace sim {

class RegistryStore;
class ObjectManager;
class ThreadPool;
class FileSystem;
class WindowManager;
class SessionManager;
class Desktop;
class ModuleTable;
class ProgramTable;
class ClassObjectTable;
class Screen;
class Process;
struct ProgramBehaviour;

struct MachineDescription {
  bool is64BitWindows = true;
  DWORD osMajor = 10;
  DWORD osMinor = 0;
  DWORD osBuild = 19045;
  BYTE productType = VER_NT_WORKSTATION;
  std::wstring servicePack;  // szCSDVersion, empty on current systems
  std::wstring computerName = L"VDSIM-PC";
  // The DNS domain the computer belongs to ("corp.example"); empty: not in a domain.
  std::wstring dnsDomain{};
  // GetSystemMetrics(SM_CLEANBOOT): 0 normal boot, 1 safe mode, 2 safe mode with network.
  int cleanBoot = 0;
  // Wall clock at tick 0 (UTC) and the local time-zone bias (UTC = local + bias minutes).
  SYSTEMTIME bootUtc{2026, 3, 0, 2, 8, 0, 0, 0};
  LONG localBiasMinutes = 0;
  // Folder on the host that holds the machine's drives ("C:\x" is <diskRoot>/c/x). Empty:
  // a fresh temporary folder, removed with the machine.
  std::filesystem::path diskRoot;
  // Visual style, colours and taskbar placement at boot (see appearance.h).
  Appearance appearance{};
  // False: the shell's link objects answer E_NOTIMPL to RemoveDataBlock, as Wine's
  // do (AddDataBlock is never offered).
  bool linkDataBlocks = true;
  // The user's preferred UI languages, first preferred first ("de-DE"); empty: "en-US".
  std::vector<std::wstring> uiLanguages{};
};

struct ProcessOptions {
  DWORD sessionId = 1;
  std::wstring exePath = L"C:\\Program Files\\Veridane\\Agent\\VdAgent.exe";
  // A 32-bit process on 64-bit Windows runs under WOW64 (registry redirection applies).
  bool is32Bit = true;
  // The process's token. A program of a user holds Everyone, Users and the user's SID;
  // `elevatedAdmin` adds an enabled BUILTIN\Administrators (an elevated administrator, or
  // an administrator without UAC); `runsAsSystem` makes it LocalSystem, which is an
  // administrator too.
  bool elevatedAdmin = false;
  bool runsAsSystem = false;
};

class Machine {
 public:
  explicit Machine(MachineDescription desc = {});
  ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  const MachineDescription& Description() const { return m_desc; }

  Clock& GetClock() { return *m_clock; }
  RegistryStore& Registry() { return *m_registry; }
  ObjectManager& Objects() { return *m_objects; }
  ThreadPool& Pool() { return *m_pool; }
  FileSystem& Files() { return *m_files; }
  WindowManager& Windows() { return *m_windows; }
  SessionManager& Sessions() { return *m_sessions; }
  Desktop& GetDesktop() { return *m_desktop; }
  // Window places, layered pictures, capture, tooltips, the mouse (see screen.h).
  Screen& GetScreen() { return *m_screen; }
  ModuleTable& Modules() { return *m_modules; }
  // Programs started with CreateProcessW and how long they run (see program_table.h).
  ProgramTable& Programs() { return *m_programs; }
  // Class objects registered with COM by the machine's processes (see class_objects.h).
  ClassObjectTable& ClassObjects() { return *m_classObjects; }
  // How a program of this file name (no folder, any case: L"cscript.exe") behaves.
  void SetProgramBehaviour(const std::wstring& fileName, ProgramBehaviour behaviour);
  // The look of the desktop now; a test changes it as a user switching themes would.
  Appearance GetAppearance();
  void SetAppearance(Appearance look);

  // ---- Processes ----
  std::unique_ptr<Process> CreateProcess(const ProcessOptions& opts);
  Process* FindProcess(DWORD pid);
  // Ids for simulated processes and threads and for started programs alike, so none collide.
  DWORD NewProcessId();
  DWORD NewThreadId();

  // ---- Threads: machine-wide ids and per-thread last error ----
  DWORD CurrentThreadId();
  DWORD& LastError();

  // ---- Test and simulator helpers ----
  // Moves the virtual clock forward, firing what falls due in time order; after each step
  // waits for pool callbacks it started and pumps the calling thread's windows until idle.
  void AdvanceBy(ULONGLONG ms);
  // Waits for pool callbacks in flight and pumps the calling thread's windows until nothing
  // is left to do at the current time.
  void RunUntilIdle();

 private:
  friend class Process;
  void Unregister(DWORD pid);

  MachineDescription m_desc;
  std::filesystem::path m_tempRoot;  // removed at destruction when we made it
  std::unique_ptr<Clock> m_clock;
  std::unique_ptr<RegistryStore> m_registry;
  std::unique_ptr<ObjectManager> m_objects;
  std::unique_ptr<ThreadPool> m_pool;
  std::unique_ptr<FileSystem> m_files;
  std::unique_ptr<SessionManager> m_sessions;
  std::unique_ptr<Desktop> m_desktop;
  std::unique_ptr<WindowManager> m_windows;
  std::unique_ptr<ModuleTable> m_modules;
  std::unique_ptr<ProgramTable> m_programs;
  std::unique_ptr<ClassObjectTable> m_classObjects;
  std::unique_ptr<Screen> m_screen;

  std::mutex m_mu;
  DWORD m_nextPid = 4000;
  std::map<DWORD, Process*> m_processes;
  Appearance m_appearance;
  DWORD m_nextTid = 100;
  struct ThreadState {
    DWORD id;
    DWORD lastError;
  };
  std::map<std::thread::id, ThreadState> m_threads;
};

}  // namespace sim
