// The prompts' dialog templates, written once: the resource compiler builds the DIALOGEX
// resources of VdAgentRes.dll from VD_AGENT_DIALOGS and VD_PROMPT_CONTROLS
// (vdagent_res.rc), and the simulated machine installs the same templates from
// kAgentDialogs and PromptControls (standins/agent_res/sim_install.h).
//
//   for (const auto& d : app_res::kAgentDialogs)
//     for (const auto& c : app_res::PromptControls(d)) ...   // id, kind, text, in order
#pragma once

#include "agent_strings.h"
#include "launch/about_resources.h"
#include "policy/prompt_resources.h"

#define VD_TEXT_DONT_ASK_AGAIN L"Do not ask me again"

// X(template id, caption, message, accept button, decline button) for every prompt.
#define VD_AGENT_DIALOGS(X)                                                                  \
  X(IDD_ASK_REGISTER_AT_START, L"Set Up Your Sign-In", VD_TEXT_PROMPT_REGISTER_AT_START,     \
    L"&Enroll now", L"&Not now")                                                             \
  X(IDD_ASK_REGISTER, L"Enroll Your Fingerprints", VD_TEXT_PROMPT_REGISTER, L"&Enroll now",  \
    L"&Not now")                                                                             \
  X(IDD_REENROLLMENT_PROMPT, L"Enroll Your Fingerprints Again", VD_TEXT_PROMPT_REENROLLMENT, \
    L"&Enroll now", L"&Not now")

// C(resource-script control, text, id, x, y, width, height): the controls of every prompt,
// in tab order, in dialog units of a 260 x 90 template.
#define VD_PROMPT_CONTROLS(C, message, accept, decline)                       \
  C(LTEXT, message, IDC_PROMPT_TEXT, 7, 7, 246, 40)                           \
  C(AUTOCHECKBOX, VD_TEXT_DONT_ASK_AGAIN, IDC_DONT_ASK_AGAIN, 7, 52, 246, 10) \
  C(DEFPUSHBUTTON, accept, IDOK, 149, 69, 50, 14)                             \
  C(PUSHBUTTON, decline, IDCANCEL, 203, 69, 50, 14)

// The About box, in dialog units of a 240 x 100 template: product, version and legal texts
// and the link, all set as it opens; one button.
#define VD_ABOUT_CONTROLS(C)                       \
  C(LTEXT, L"", IDC_ABOUT_PRODUCT, 7, 7, 226, 10)  \
  C(LTEXT, L"", IDC_ABOUT_VERSION, 7, 19, 226, 10) \
  C(LTEXT, L"", IDC_ABOUT_LEGAL, 7, 31, 226, 28)   \
  C(SYSLINK, L"", IDC_ABOUT_LINK, 7, 61, 226, 10)  \
  C(DEFPUSHBUTTON, L"OK", IDOK, 183, 79, 50, 14)
#define VD_TEXT_ABOUT_CAPTION L"About"

#ifndef RC_INVOKED
#include <array>

#include "platform/win_types.h"

namespace app_res {

// How a control of the resource script behaves: a static text, a check box, a button.
enum class PromptControlKind { Text, CheckBox, Button, Link };
inline constexpr PromptControlKind kControlLTEXT = PromptControlKind::Text;
inline constexpr PromptControlKind kControlAUTOCHECKBOX = PromptControlKind::CheckBox;
inline constexpr PromptControlKind kControlDEFPUSHBUTTON = PromptControlKind::Button;
inline constexpr PromptControlKind kControlPUSHBUTTON = PromptControlKind::Button;
inline constexpr PromptControlKind kControlSYSLINK = PromptControlKind::Link;

struct PromptControl {
  int id;
  PromptControlKind kind;
  const wchar_t* text;
};

struct AgentDialog {
  unsigned id;
  const wchar_t* caption;
  const wchar_t* message;
  const wchar_t* accept;
  const wchar_t* decline;
};

#define VD_AGENT_DIALOG_ENTRY(id, caption, message, accept, decline) \
  {id, caption, message, accept, decline},
inline constexpr AgentDialog kAgentDialogs[] = {VD_AGENT_DIALOGS(VD_AGENT_DIALOG_ENTRY)};
#undef VD_AGENT_DIALOG_ENTRY

#define VD_PROMPT_CONTROL_ENTRY(kind, text, id, x, y, cx, cy) \
  PromptControl{id, kControl##kind, text},
inline std::array<PromptControl, 4> PromptControls(const AgentDialog& d) {
  return {VD_PROMPT_CONTROLS(VD_PROMPT_CONTROL_ENTRY, d.message, d.accept, d.decline)};
}

inline std::array<PromptControl, 5> AboutControls() {
  return {VD_ABOUT_CONTROLS(VD_PROMPT_CONTROL_ENTRY)};
}
#undef VD_PROMPT_CONTROL_ENTRY

}  // namespace app_res
#endif
