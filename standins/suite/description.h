// What the suite's other stand-ins (fill-in component, password manager, sound utility, fast
// connect) are told about their machine: whether each is installed and how the fill-in
// component answers each command.
//
// Read from JSON (every member optional; absent members keep the defaults shown):
//
//   {
//     "fillIn": {"installed": true,
//                "commands": {"100": {"hr": 0, "result": 1, "reply": [1, 1],
//                                     "replyAfterMs": 0}}},
//     "passwordManager": {"installed": true, "dashboardOpenMs": 0,
//                         "showResult": 0, "trainingResult": 0},
//     "sounds": true,
//     "fastConnect": true,
//     "tsClient": {"installed": true, "registerResult": 0}
//   }
//
// A command not listed answers S_OK with result 0 and posts nothing. "hr" takes either
// reading of an HRESULT (-2147467259 or 2147500037 for 0x80004005) or a "0x" text; "reply"
// is [kind, value]: kind 1 a fill-in reply (value: action type), kind 2 a feedback change
// (value: state).
#pragma once

#include <map>
#include <optional>
#include <stdexcept>
#include <string>

#include "platform/win_types.h"

namespace suite_standin {

struct FillInReply {
  WPARAM kind = 0;
  LPARAM value = 0;
  ULONGLONG afterMs = 0;  // 0: posted before the command returns
  bool operator==(const FillInReply&) const = default;
};

struct FillInCommandDesc {
  HRESULT hr = S_OK;
  DWORD result = 0;
  std::optional<FillInReply> reply;
};

struct FillInDesc {
  bool installed = true;
  std::map<DWORD, FillInCommandDesc> commands;
};

struct PasswordManagerDesc {
  bool installed = true;
  // The mini dashboard stays open this long before ShowMiniDashboard returns.
  ULONGLONG dashboardOpenMs = 0;
  HRESULT showResult = S_OK;      // what ShowMiniDashboard answers
  HRESULT trainingResult = S_OK;  // what InitUserTrainingTool answers
};

// The terminal-services client component "VDTSClnt.dll": DllRegisterServer answers
// `registerResult`.
struct TsClientDesc {
  bool installed = true;
  HRESULT registerResult = S_OK;
};

struct SuiteDescription {
  FillInDesc fillIn;
  PasswordManagerDesc passwordManager;
  bool sounds = true;       // VDNXUtils.dll
  bool fastConnect = true;  // VDFstCon.dll and VDRunDll.exe in the binaries folder
  TsClientDesc tsClient;

  // Throws SuiteDescriptionError on malformed input; "{}" is the default.
  static SuiteDescription FromJson(const std::string& json);
};

class SuiteDescriptionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace suite_standin
