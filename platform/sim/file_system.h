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
// Network shares: "\\server\share\x" is <diskRoot>/unc/server/share/x once the share is
// added; another server gives ERROR_BAD_NETPATH, another share of a known server
// ERROR_BAD_NET_NAME. "\\?\C:\x" and "\\?\UNC\server\share\x" name the same files as
// "C:\x" and "\\server\share\x".
//
//   fs.AddShare(L"\\corp.example\sysvol", 40);    // every copy from it waits 40 ms first
//   fs.WriteFile(L"\\corp.example\sysvol\corp.example\scripts\unlock.vbs", "...");
//   fs.SetCopySpeed(1024);                            // 1 KiB per virtual ms
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

#ifndef ERROR_BAD_NETPATH
#define ERROR_BAD_NETPATH 53L
#endif
#ifndef ERROR_BAD_NET_NAME
#define ERROR_BAD_NET_NAME 67L
#endif
#ifndef ERROR_NOT_SAME_DEVICE
#define ERROR_NOT_SAME_DEVICE 17L
#endif

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

  // The host path of an absolute Windows path ("X:\..." or "\\server\share\..."); empty
  // for paths that are not on a drive or on an added share.
  std::filesystem::path HostPath(const std::wstring& windowsPath) const;
  // The absolute form of `path` as GetFullPathNameW would give it with `currentDirectory`
  // as the process's folder: separators unified, "." and ".." resolved (never above a drive
  // or share root), trailing dots and blanks of names dropped, the "\\?\" prefix removed.
  // Nothing for paths that are neither on a drive nor on a "\\server\share".
  static std::optional<std::wstring> FullPath(const std::wstring& currentDirectory,
                                              const std::wstring& path);
  // The volume of a full path: "C:" or "\\SERVER\SHARE" (upper case).
  static std::wstring VolumeOf(const std::wstring& fullPath);

  // ---- Network shares and copy timing ----
  // `uncRoot` is "\\server\share"; its folder is made on the host.
  void AddShare(const std::wstring& uncRoot, DWORD latencyMs = 0);
  // What a copy to or from `fullPath` waits before its first byte (0 off the shares).
  DWORD LatencyOf(const std::wstring& fullPath) const;
  // Bytes a copy moves per virtual millisecond (default 1 MiB: small files take no time).
  void SetCopySpeed(ULONGLONG bytesPerMs);
  ULONGLONG CopySpeed() const;

  // ---- Operations on absolute Windows paths; results are Win32 error codes ----
  // `existed` tells whether the file was there before (for ERROR_ALREADY_EXISTS).
  DWORD Open(const std::wstring& path, DWORD access, DWORD disposition,
             std::shared_ptr<FileObject>* out, bool* existed);
  DWORD Delete(const std::wstring& path);
  DWORD Attributes(const std::wstring& path, DWORD* attributes);
  DWORD CreateDirectory(const std::wstring& path);
  // ERROR_DIR_NOT_EMPTY while anything is inside, ERROR_DIRECTORY for a file.
  DWORD RemoveDirectory(const std::wstring& path);
  // Renames a file or folder: ERROR_ALREADY_EXISTS when the new name is taken and
  // `replace` is not set (a folder is never replaced: ERROR_ACCESS_DENIED);
  // ERROR_NOT_SAME_DEVICE across volumes (the caller copies instead when it may).
  DWORD Move(const std::wstring& from, const std::wstring& to, bool replace);

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
  // The host path of `path`, or why there is none (see the header).
  DWORD Reach(const std::wstring& path, std::filesystem::path* host) const;

  struct Share {
    std::filesystem::path host;
    DWORD latencyMs = 0;
  };

  [[maybe_unused]] Machine& m_machine;
  std::filesystem::path m_root;
  mutable std::mutex m_mu;
  std::map<std::wstring, Version> m_versions;  // by folded full path
  std::map<std::wstring, Share> m_shares;      // by VolumeOf
  ULONGLONG m_copySpeed = 1024 * 1024;
};

}  // namespace sim
