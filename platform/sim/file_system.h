// The simulated machine's disks: Windows paths mapped onto a host folder.
//
// "C:\Program Files\X.txt" is <diskRoot>/c/program files/x.txt: every component is stored
// lower-case, so names compare without regard to case as on NTFS (the case a program
// used is not kept). Drive C: exists; another drive exists when its folder does.
//
//   auto& fs = machine.Files();
//   std::ifstream in(fs.HostPath(L"C:\\ProgramData\\Veridane\\Agent.log"));
//   fs.SetFileVersion(L"C:\\Program Files\\Veridane\\Agent\\VdAgent.exe", {5, 2, 0, 100});
//
// Every write goes straight to the host file (no buffering), so a reader on the host can
// follow a file while the simulated program writes it. Share modes are not enforced: a
// file opened without sharing can still be opened again, and deleting an open file
// succeeds (the open handle keeps working, as on POSIX).
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/sim/object_manager.h"
#include "platform/win_types.h"

namespace sim {

class Machine;

// An open file: the object behind a file handle.
class FileObject : public KernelObject {
 public:
  FileObject(int fd, bool canRead, bool canWrite, bool appendOnly);
  ~FileObject() override;

  DWORD Read(void* buffer, DWORD size, DWORD* read);
  DWORD Write(const void* buffer, DWORD size, DWORD* written);
  DWORD Seek(LONGLONG distance, DWORD method, LONGLONG* newPosition);
  DWORD Size(LONGLONG* size);

 private:
  std::mutex m_mu;
  int m_fd;
  bool m_canRead;
  bool m_canWrite;
  bool m_appendOnly;  // FILE_APPEND_DATA alone: every write lands at the end
  LONGLONG m_position = 0;
};

class FileSystem {
 public:
  using Version = std::array<WORD, 4>;

  explicit FileSystem(Machine& m);

  // The host path of an absolute Windows path ("X:\..."); empty for paths that are not on
  // a drive (UNC names and the like).
  std::filesystem::path HostPath(const std::wstring& windowsPath) const;
  // The absolute form of `path` as GetFullPathNameW would give it with `currentDirectory`
  // as the process's folder: separators unified, "." and ".." resolved, trailing dots and
  // blanks of names dropped. Nothing for paths that are not on a drive.
  static std::optional<std::wstring> FullPath(const std::wstring& currentDirectory,
                                              const std::wstring& path);

  // ---- Operations on absolute Windows paths; results are Win32 error codes ----
  // `existed` tells whether the file was there before (for ERROR_ALREADY_EXISTS).
  DWORD Open(const std::wstring& path, DWORD access, DWORD disposition,
             std::shared_ptr<FileObject>* out, bool* existed);
  DWORD Delete(const std::wstring& path);
  DWORD Attributes(const std::wstring& path, DWORD* attributes);
  DWORD CreateDirectory(const std::wstring& path);

  // ---- Version resources (GetFileVersion) ----
  void SetFileVersion(const std::wstring& path, Version version);
  std::optional<Version> FileVersion(const std::wstring& path) const;

  // ---- Test conveniences ----
  // Creates the folders on the way.
  void WriteFile(const std::wstring& path, const std::string& bytes);
  std::optional<std::string> ReadFile(const std::wstring& path) const;
  bool Exists(const std::wstring& path) const;

 private:
  // ERROR_PATH_NOT_FOUND unless the folder that would hold `host` exists.
  static DWORD CheckParent(const std::filesystem::path& host);

  [[maybe_unused]] Machine& m_machine;
  std::filesystem::path m_root;
  mutable std::mutex m_mu;
  std::map<std::wstring, Version> m_versions;  // by folded full path
};

}  // namespace sim
