// The dashboard's launchers: an application or document, a web link, a password-manager
// entry. Each is read from and written to one record of the launcher table (see
// launchers.h) and performs its action on a thread of its own.
//
//   auto app = std::make_shared<CAppLauncher>(plat, L"C:\\Tools\\app.exe");
//   app->PerformAction();          // returns at once; the program starts on the worker
//
// Records: a SEQUENCE of the type GUID and the class's fields, in this order:
//   CAppLauncher        {4B9A9972-9A2C-4DD6-A09E-7FE94B22889A}, path or document (text)
//   CWebLinkLauncher    {67C0DF1D-144F-471F-B2C7-CF10E3F5C604}, URL (text)
//   CPwdManagerLauncher {29ED1B27-DCFD-40B5-A896-A680E62DC0FB}, label (text), entry ID (text),
//                       number (signed 32-bit INTEGER)
// Elements after the class's last field are not read, so a longer record from a newer
// dashboard still loads.
//
// Threads: PerformAction, Serialize, Unserialize and Print run on the window's thread;
// OnAction runs on the launcher's worker. While an action runs, PerformAction skips the
// launcher. The worker holds a shared reference to its launcher, so releasing the table
// never waits for a running action: the last reference, on whichever thread, destroys the
// launcher, and only its destructor closes the worker's handle. Anything OnAction throws is
// caught on the worker and traced.
#pragma once

#include <memory>
#include <mutex>
#include <ostream>
#include <string>

#include "ext/crypt_blobs.h"
#include "platform/handles.h"
#include "platform/platform.h"

inline constexpr GUID kAppLauncherType = {
    0x4B9A9972, 0x9A2C, 0x4DD6, {0xA0, 0x9E, 0x7F, 0xE9, 0x4B, 0x22, 0x88, 0x9A}};
inline constexpr GUID kWebLinkLauncherType = {
    0x67C0DF1D, 0x144F, 0x471F, {0xB2, 0xC7, 0xCF, 0x10, 0xE3, 0xF5, 0xC6, 0x04}};
inline constexpr GUID kPwdManagerLauncherType = {
    0x29ED1B27, 0xDCFD, 0x40B5, {0xA8, 0x96, 0xA6, 0x80, 0xE6, 0x2D, 0xC0, 0xFB}};

class CLauncherImpl : public std::enable_shared_from_this<CLauncherImpl> {
 public:
  virtual ~CLauncherImpl();
  CLauncherImpl(const CLauncherImpl&) = delete;
  CLauncherImpl& operator=(const CLauncherImpl&) = delete;

  // Appends the record's elements (type GUID, then the fields) to `record`.
  virtual void Serialize(CVDSequenceBlob& record) const;
  // Reads the type GUID (raising CRYPT_E_ASN1_CORRUPT when it is not this class's) and the
  // fields from the read position of `record`; raises the element's decode error.
  virtual void Unserialize(CVDSequenceBlob& record);
  // One line describing the launcher, for traces.
  virtual void Print(std::wostream& out) const;
  // Performs the action, on the worker thread.
  virtual HRESULT OnAction() = 0;

  const GUID& TypeId() const { return m_typeId; }
  std::wstring Description() const;
  // Starts OnAction on a new thread unless the previous action still runs. Window thread;
  // the launcher must be owned by a shared_ptr (the worker takes a reference to it).
  void PerformAction();
  bool IsRunning() const;

 protected:
  CLauncherImpl(platform::IPlatform& plat, const GUID& typeId);
  platform::IPlatform& m_plat;

 private:
  static DWORD WINAPI ThreadMain(LPVOID param);
  void RunAction();

  const GUID m_typeId;
  mutable std::mutex m_mu;  // guards the two members below
  bool m_bRunning = false;
  platform::UniqueHandle m_hThread;  // the latest action's thread; closed only here
};

// Starts a program (a text that ends in ".exe", any case) or opens a document through the
// shell's "open" verb.
class CAppLauncher : public CLauncherImpl {
 public:
  explicit CAppLauncher(platform::IPlatform& plat, std::wstring path = {});
  void Serialize(CVDSequenceBlob& record) const override;
  void Unserialize(CVDSequenceBlob& record) override;
  void Print(std::wostream& out) const override;
  HRESULT OnAction() override;
  const std::wstring& Path() const { return m_sPath; }

 private:
  std::wstring m_sPath;
};

// Opens a URL with the program registered for "http" (whatever the URL's own scheme), the
// URL as one quoted argument; without such a program, through the shell. A URL holding a
// quotation mark or a control character is refused (E_INVALIDARG), as it could break out of
// its argument.
class CWebLinkLauncher : public CLauncherImpl {
 public:
  explicit CWebLinkLauncher(platform::IPlatform& plat, std::wstring url = {});
  void Serialize(CVDSequenceBlob& record) const override;
  void Unserialize(CVDSequenceBlob& record) override;
  void Print(std::wostream& out) const override;
  HRESULT OnAction() override;
  const std::wstring& Url() const { return m_sUrl; }

 private:
  std::wstring m_sUrl;
};

// Opens a password-manager entry through "VdMiniOnlineIds.dll"'s LaunchQuickLink. A missing
// library or entry point gives the last Win32 error as HRESULT.
class CPwdManagerLauncher : public CLauncherImpl {
 public:
  explicit CPwdManagerLauncher(platform::IPlatform& plat, std::wstring label = {},
                               std::wstring entryId = {}, LONG number = 0);
  void Serialize(CVDSequenceBlob& record) const override;
  void Unserialize(CVDSequenceBlob& record) override;
  void Print(std::wostream& out) const override;
  HRESULT OnAction() override;
  const std::wstring& Label() const { return m_sLabel; }
  const std::wstring& EntryId() const { return m_sEntryId; }
  LONG Number() const { return m_nNumber; }

 private:
  std::wstring m_sLabel;  // the record's first text; its meaning is the dashboard's
  std::wstring m_sEntryId;
  LONG m_nNumber;
};
