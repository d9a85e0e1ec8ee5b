// What the toast library and the quick-link library stand-ins are told about their machine:
// whether each is installed, how the user answers each toast, and what a quick link answers.
//
// Read from the same JSON object as the suite's other stand-ins (every member optional;
// absent members keep the defaults shown):
//
//   {
//     "toast": {"installed": true,
//               "answers": [{"action": "click", "afterMs": 1500},
//                           {"result": 7, "afterMs": 0}],
//               "otherwise": {"action": "timeout", "afterMs": 7000}},
//     "quickLinks": {"installed": true, "hr": 0}
//   }
//
// The n-th toast shown gets the n-th answer; once they are used up every toast gets
// "otherwise". An action is "click" (result 0), "timeout" (3), "button" (5) or "dismiss" (2:
// the user closed it, it stays in the action center); "result" gives any other number. "hr"
// takes a number or a "0x" text.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/win_types.h"

namespace toast_standin {

// The toast results the user produces, as the library hands them to its completion.
inline constexpr INT32 kToastClicked = 0;
inline constexpr INT32 kToastDismissed = 2;
inline constexpr INT32 kToastTimedOut = 3;
inline constexpr INT32 kToastButton = 5;
// How long a toast stays up when nobody touches it.
inline constexpr ULONGLONG kToastShowMs = 7000;

struct ToastAnswer {
  INT32 result = kToastTimedOut;
  ULONGLONG afterMs = kToastShowMs;  // after the toast is shown
  bool operator==(const ToastAnswer&) const = default;

  static ToastAnswer Click(ULONGLONG afterMs = 0) { return {kToastClicked, afterMs}; }
  static ToastAnswer Button(ULONGLONG afterMs = 0) { return {kToastButton, afterMs}; }
  static ToastAnswer Dismiss(ULONGLONG afterMs = 0) { return {kToastDismissed, afterMs}; }
  static ToastAnswer Timeout(ULONGLONG afterMs = kToastShowMs) { return {kToastTimedOut, afterMs}; }
};

struct ToastLibraryDesc {
  bool installed = true;
  std::vector<ToastAnswer> answers;
  ToastAnswer otherwise;
};

struct QuickLinkDesc {
  bool installed = true;
  HRESULT hr = S_OK;  // what LaunchQuickLink answers
};

struct ToastStandInsDescription {
  ToastLibraryDesc toast;
  QuickLinkDesc quickLinks;

  // Throws ToastDescriptionError on malformed input; members other than "toast" and
  // "quickLinks" belong to the other stand-ins and are not looked at.
  static ToastStandInsDescription FromJson(const std::string& json);
};

class ToastDescriptionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "click", "timeout", "button", "dismiss" to their results; -1 for any other name.
INT32 ToastResultOfAction(const std::string& action);

}  // namespace toast_standin
