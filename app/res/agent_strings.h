// The wording of the agent's own texts, written once: the resource compiler builds the
// string table of VdAgentRes.dll from VD_AGENT_STRINGS (vdagent_res.rc), and the simulated
// machine installs the same texts from kAgentStrings. Wide literals keep the table UTF-16 in
// both.
//
//   sim::ModuleTable::Strings strings(std::begin(app_res::kAgentStrings),
//                                     std::end(app_res::kAgentStrings));
#pragma once

#include "policy/prompt_resources.h"
#include "resource_ids.h"

// The prompts' messages: string resources, and the static texts of their dialog templates
// (agent_dialogs.h).
#define VD_TEXT_PROMPT_REGISTER_AT_START                                                \
  L"Your organization asks you to enroll the credentials you sign in to Windows with. " \
  L"Enroll them now?"
#define VD_TEXT_PROMPT_REGISTER                                                           \
  L"A fingerprint reader is connected. Enroll your fingerprints now, and sign in with a " \
  L"touch of your finger?"
#define VD_TEXT_PROMPT_REENROLLMENT                                                     \
  L"Your fingerprint reader needs your fingerprints enrolled again before it can sign " \
  L"you in. Enroll them now?"

// X(identifier, text) for every string of the resource module.
#define VD_AGENT_STRINGS(X)                                                                  \
  X(IDS_READER_CONNECTED_TEXT,                                                               \
    L"Your fingerprint reader is ready. Click here to enroll your fingerprints and sign in " \
    L"with a touch of your finger.")                                                         \
  /* Also the title of the reader-connected balloon: short enough for one (63). */           \
  X(IDS_FP_ENROLLMENT_RECOMMENDED, L"Enroll your fingerprints to sign in with a touch")      \
  X(IDS_FEEDBACK_FAILED, L"Signing in with your fingerprint did not succeed. Try again.")    \
  X(IDS_FEEDBACK_NOT_READ, L"The reader could not read your fingerprint. Touch it again.")   \
  X(IDS_FEEDBACK_NOT_RECOGNIZED,                                                             \
    L"Your fingerprint was not recognized. Try again, or use another finger.")              \
  X(IDS_FEEDBACK_UNAVAILABLE,                                                                \
    L"Your fingerprint cannot be checked now. Sign in another way.")                         \
  X(IDS_NO_DRIVERS_TITLE, L"Fingerprint reader not working")                                 \
  X(IDS_NO_DRIVERS_TEXT,                                                                     \
    L"The driver of the fingerprint reader is missing or not working. An administrator "     \
    L"should install the reader's driver.")                                                  \
  X(IDS_PRODUCT_NAME, L"Veridane Classic")                                                   \
  X(IDS_PRODUCT_SHORT_NAME, L"Classic")                                                      \
  X(IDS_AGENT_CAPTION, L"Veridane Classic Agent")                                            \
  /* The tray's tooltip and the title of every reminder. */                                  \
  X(IDS_NOTIFY_TITLE, L"Veridane Classic")                                                   \
  X(IDS_ADDITIONAL_CREDENTIALS,                                                              \
    L"More ways to sign in are available. Click here to add them to your account.")          \
  X(IDS_ENROLLMENT_NEEDED,                                                                   \
    L"Enroll the credentials your organization's sign-in policy asks for. Click here to "    \
    L"start.")                                                                               \
  X(IDS_TOAST_BUTTON, L"Open")                                                               \
  X(IDS_PROMPT_REGISTER_AT_START, VD_TEXT_PROMPT_REGISTER_AT_START)                          \
  X(IDS_PROMPT_REGISTER_AT_START_HOME,                                                       \
    L"Sign in to Windows with your fingerprint or a card instead of typing your password. "  \
    L"Set it up now?")                                                                       \
  X(IDS_PROMPT_REGISTER, VD_TEXT_PROMPT_REGISTER)                                            \
  X(IDS_PROMPT_REGISTER_HOME,                                                                \
    L"Your fingerprint reader is ready. Enroll your fingerprints now, and sign in to "       \
    L"Windows with a touch?")                                                                \
  X(IDS_PROMPT_REENROLLMENT, VD_TEXT_PROMPT_REENROLLMENT)                                    \
  X(IDS_MENU_OPEN_CONSOLE, L"&Open Veridane Classic Console")                                \
  X(IDS_MENU_HELP, L"&Help")                                                                 \
  X(IDS_MENU_ABOUT, L"&About Veridane Classic")                                              \
  X(IDS_ABOUT_CAPTION, L"About <<%PN%>>")                                                    \
  X(IDS_ABOUT_LEGAL, L"Copyright (C) Veridane. All rights reserved.")                       \
  X(IDS_ABOUT_URL, L"https://www.veridane.example/")

#ifndef RC_INVOKED
#include <utility>

namespace app_res {

#define VD_AGENT_STRING_ENTRY(id, text) {id, text},
inline constexpr std::pair<unsigned, const wchar_t*> kAgentStrings[] = {
    VD_AGENT_STRINGS(VD_AGENT_STRING_ENTRY)};
#undef VD_AGENT_STRING_ENTRY

}  // namespace app_res
#endif
