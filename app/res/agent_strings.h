// The wording of the agent's own texts, written once: the resource compiler builds the
// string table of VdAgentRes.dll from VD_AGENT_STRINGS (vdagent_res.rc), and the simulated
// machine installs the same texts from kAgentStrings. Wide literals keep the table UTF-16 in
// both.
//
//   sim::ModuleTable::Strings strings(std::begin(app_res::kAgentStrings),
//                                     std::end(app_res::kAgentStrings));
#pragma once

#include "resource_ids.h"

// X(identifier, text) for every string of the resource module.
#define VD_AGENT_STRINGS(X)                                                                  \
  X(IDS_READER_CONNECTED_TEXT,                                                               \
    L"Your fingerprint reader is ready. Click here to enroll your fingerprints and sign in " \
    L"with a touch of your finger.")                                                         \
  X(IDS_READER_CONNECTED_TITLE, L"Fingerprint reader connected")                             \
  X(IDS_NO_DRIVERS_TITLE, L"Fingerprint reader not working")                                 \
  X(IDS_NO_DRIVERS_TEXT,                                                                     \
    L"The driver of the fingerprint reader is missing or not working. An administrator "     \
    L"should install the reader's driver.")                                                  \
  X(IDS_PRODUCT_NAME, L"Veridane Classic")                                                   \
  X(IDS_AGENT_CAPTION, L"Veridane Classic Agent")                                            \
  X(IDS_TRAY_TOOLTIP, L"Veridane Classic: touch the reader or tap your card to sign in")     \
  X(IDS_MENU_OPEN_CONSOLE, L"&Open Veridane Classic Console")                                \
  X(IDS_MENU_HELP, L"&Help")                                                                 \
  X(IDS_MENU_ABOUT, L"&About Veridane Classic")                                              \
  X(IDS_ABOUT_CAPTION, L"About Veridane Classic")                                            \
  X(IDS_ABOUT_LEGAL, L"Copyright (C) Veridane. All rights reserved.")

#ifndef RC_INVOKED
#include <utility>

namespace app_res {

#define VD_AGENT_STRING_ENTRY(id, text) {id, text},
inline constexpr std::pair<unsigned, const wchar_t*> kAgentStrings[] = {
    VD_AGENT_STRINGS(VD_AGENT_STRING_ENTRY)};
#undef VD_AGENT_STRING_ENTRY

}  // namespace app_res
#endif
