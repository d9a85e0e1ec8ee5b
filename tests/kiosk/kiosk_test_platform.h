// The simulated machine with the calls the kiosk code needs that it does not simulate (yet)
// taken over by test doubles: copies from the domain's shares with a duration on the
// virtual clock, renames, the DNS domain, started programs, folder creation, shell launches
// and system broadcasts. Everything else is the machine's own.
//
//   KioskPlatform plat(machine, *process);
//   plat.kernel.remote[L"\\\\corp.test\\sysvol\\corp.test\\scripts\\unlock.vbs"] = {"x", 0};
//   core::CAgentProcess agent(plat, nullptr);
//   ... plat.kernel.started, plat.shell.launched, plat.ui.broadcasts ...
#pragma once

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/sim/clock.h"
#include "platform/sim/file_system.h"
#include "platform/sim/machine.h"
#include "platform/sim/process.h"
#include "tests/testing/forwarding_platform.h"

namespace kiosktest {

using vdtest::ForwardingKernel;
using vdtest::ForwardingShell;
using vdtest::ForwardingUi;

inline std::wstring Lower(std::wstring s) {
  for (auto& c : s) c = static_cast<wchar_t>(towlower(c));
  return s;
}

class ScriptKernel : public ForwardingKernel {
 public:
  ScriptKernel(sim::Machine& m, platform::IKernel& to) : ForwardingKernel(to), m_machine(m) {}

  // A file on a share: its bytes and how long copying it takes on the virtual clock.
  struct RemoteFile {
    std::string bytes;
    ULONGLONG copyMs = 0;
  };
  std::map<std::wstring, RemoteFile> remote;  // by lower-case path

  // What CreateProcessW was asked to start.
  struct Start {
    std::wstring application;  // empty: none given
    std::wstring commandLine;  // empty: none given
    DWORD flags = 0;
    std::wstring directory;
    std::wstring desktop;
    BOOL inherit = FALSE;
    bool started = false;
  };
  std::vector<Start> starts;
  // How long a started program runs; programs are the files ending in ".exe" (the script
  // host among them), anything else is refused as not a program.
  ULONGLONG runMs = 100;
  // Handles of started processes and threads, and which of them were closed.
  std::vector<HANDLE> processHandles;
  std::vector<HANDLE> closedProcessHandles;
  // Every process and thread handle given out was closed, each once.
  bool AllProcessHandlesClosedOnce() const {
    auto a = processHandles, b = closedProcessHandles;
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    return a == b;
  }

  struct Copy {
    std::wstring from, to;
    bool withProgress = false;
  };
  std::vector<Copy> copies;
  // Renames fail with this error while it is set.
  DWORD moveError = 0;

  // ComputerNameDnsDomain; empty outside a domain.
  std::wstring dnsDomain = L"corp.test";

  BOOL GetComputerNameExW(COMPUTER_NAME_FORMAT type, LPWSTR buffer, LPDWORD size) override {
    if (type != ComputerNameDnsDomain || !size) return inner.GetComputerNameExW(type, buffer, size);
    if (!buffer || *size < dnsDomain.size() + 1) {
      *size = static_cast<DWORD>(dnsDomain.size() + 1);
      inner.SetLastError(ERROR_MORE_DATA);
      return FALSE;
    }
    dnsDomain.copy(buffer, dnsDomain.size());
    buffer[dnsDomain.size()] = L'\0';
    *size = static_cast<DWORD>(dnsDomain.size());
    return TRUE;
  }

  BOOL CopyFileExW(LPCWSTR from, LPCWSTR to, LPPROGRESS_ROUTINE progress, LPVOID data, LPBOOL,
                   DWORD) override {
    copies.push_back({from, to, progress != nullptr});
    std::string bytes;
    ULONGLONG duration = 0;
    if (auto it = remote.find(Lower(from)); it != remote.end()) {
      bytes = it->second.bytes;
      duration = it->second.copyMs;
    } else if (auto local = m_machine.Files().ReadFile(from)) {
      bytes = *local;
    } else {
      return Fail(ERROR_FILE_NOT_FOUND);
    }
    const std::filesystem::path host = m_machine.Files().HostPath(to);
    if (host.empty() || !std::filesystem::is_directory(host.parent_path()))
      return Fail(ERROR_PATH_NOT_FOUND);
    // Four chunks, each a quarter of the duration, the progress routine asked after each.
    constexpr int kChunks = 4;
    for (int i = 1; i <= kChunks; ++i) {
      m_machine.GetClock().AdvanceBy(duration / kChunks);
      LARGE_INTEGER total{}, done{};
      total.QuadPart = static_cast<LONGLONG>(bytes.size());
      done.QuadPart = total.QuadPart * i / kChunks;
      if (progress && progress(total, done, total, done, 1, CALLBACK_CHUNK_FINISHED, nullptr,
                               nullptr, data) == PROGRESS_CANCEL) {
        std::filesystem::remove(host);  // the partial copy goes
        return Fail(ERROR_REQUEST_ABORTED);
      }
    }
    m_machine.Files().WriteFile(to, bytes);
    return TRUE;
  }

  BOOL MoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) override {
    if (moveError) return Fail(moveError);
    const auto a = m_machine.Files().HostPath(from), b = m_machine.Files().HostPath(to);
    if (!std::filesystem::exists(a)) return Fail(ERROR_FILE_NOT_FOUND);
    if (std::filesystem::exists(b) && !(flags & MOVEFILE_REPLACE_EXISTING))
      return Fail(ERROR_ALREADY_EXISTS);
    std::filesystem::rename(a, b);
    return TRUE;
  }

  BOOL CreateProcessW(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES,
                      LPSECURITY_ATTRIBUTES, BOOL inherit, DWORD flags, LPVOID, LPCWSTR directory,
                      LPSTARTUPINFOW si, LPPROCESS_INFORMATION pi) override {
    Start s;
    s.application = application ? application : L"";
    s.commandLine = commandLine ? commandLine : L"";
    s.flags = flags;
    s.directory = directory ? directory : L"";
    s.desktop = si && si->lpDesktop ? si->lpDesktop : L"";
    s.inherit = inherit;
    starts.push_back(s);
    const std::wstring program =
        application ? std::wstring(application) : FirstToken(s.commandLine);
    if (!m_machine.Files().Exists(program)) return Fail(ERROR_FILE_NOT_FOUND);
    if (Lower(program).size() < 4 || Lower(program).substr(program.size() - 4) != L".exe")
      return Fail(ERROR_BAD_EXE_FORMAT);
    starts.back().started = true;
    // The process handle is signalled when the program ends, `runMs` from now.
    const std::wstring name = L"kiosktest-process-" + std::to_wstring(starts.size());
    HANDLE process = inner.CreateEventW(nullptr, TRUE, FALSE, name.c_str());
    HANDLE signal = inner.OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str());
    HANDLE thread = inner.CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_machine.GetClock().ScheduleAt(m_machine.GetClock().NowMs() + runMs, [this, signal] {
      inner.SetEvent(signal);
      inner.CloseHandle(signal);
    });
    processHandles.push_back(process);
    processHandles.push_back(thread);
    *pi = PROCESS_INFORMATION{process, thread, 7000, 7001};
    return TRUE;
  }

  BOOL CloseHandle(HANDLE h) override {
    for (HANDLE p : processHandles)
      if (p == h) closedProcessHandles.push_back(h);
    return inner.CloseHandle(h);
  }

 private:
  BOOL Fail(DWORD error) {
    inner.SetLastError(error);
    return FALSE;
  }
  static std::wstring FirstToken(const std::wstring& cmd) {
    if (!cmd.empty() && cmd[0] == L'"') return cmd.substr(1, cmd.find(L'"', 1) - 1);
    return cmd.substr(0, cmd.find(L' '));
  }

  sim::Machine& m_machine;
};

class ScriptShell : public ForwardingShell {
 public:
  ScriptShell(platform::IKernel& kernel, platform::IShell& to)
      : ForwardingShell(to), m_kernel(kernel) {}

  struct Launch {
    std::wstring file, parameters;
  };
  std::vector<Launch> launched;
  std::vector<std::wstring> folders;
  // SHCreateDirectoryExW answers this instead of creating anything while it is set.
  int folderError = 0;

  HINSTANCE ShellExecuteW(HWND, LPCWSTR, LPCWSTR file, LPCWSTR parameters, LPCWSTR, INT) override {
    launched.push_back({file ? file : L"", parameters ? parameters : L""});
    return reinterpret_cast<HINSTANCE>(static_cast<ULONG_PTR>(42));
  }
  int SHCreateDirectoryExW(HWND, LPCWSTR path, const SECURITY_ATTRIBUTES*) override {
    folders.push_back(path);
    if (folderError) return folderError;
    const std::wstring p = path;
    bool created = false;
    for (size_t i = p.find(L'\\', 3);; i = p.find(L'\\', i + 1)) {
      const std::wstring part = i == std::wstring::npos ? p : p.substr(0, i);
      if (m_kernel.CreateDirectoryW(part.c_str(), nullptr)) created = true;
      if (i == std::wstring::npos) break;
    }
    return created ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS;
  }

 private:
  platform::IKernel& m_kernel;
};

class ScriptUi : public ForwardingUi {
 public:
  using ForwardingUi::ForwardingUi;

  struct Broadcast {
    DWORD flags, recipients;
    UINT msg;
    WPARAM wp;
    LPARAM lp;
    bool operator==(const Broadcast&) const = default;
  };
  std::vector<Broadcast> broadcasts;

  long BroadcastSystemMessageW(DWORD flags, LPDWORD info, UINT msg, WPARAM wp, LPARAM lp) override {
    broadcasts.push_back({flags, info ? *info : 0, msg, wp, lp});
    return 1;
  }
};

// A simulated process's platform with the doubles above in place.
class KioskPlatform : public platform::IPlatform {
 public:
  KioskPlatform(sim::Machine& m, sim::Process& p)
      : process(p), kernel(m, p.Kernel()), ui(p.Ui()), shell(kernel, p.Shell()) {}

  platform::IRegistry& Registry() override { return process.Registry(); }
  platform::IKernel& Kernel() override { return kernel; }
  platform::IUi& Ui() override { return ui; }
  platform::ISessions& Sessions() override { return process.Sessions(); }
  platform::ICom& Com() override { return process.Com(); }
  platform::IModules& Modules() override { return process.Modules(); }
  platform::IShell& Shell() override { return shell; }
  platform::ICrypt& Crypt() override { return process.Crypt(); }
  platform::IGdi& Gdi() override { return process.Gdi(); }

  sim::Process& process;
  ScriptKernel kernel;
  ScriptUi ui;
  ScriptShell shell;
};

}  // namespace kiosktest
