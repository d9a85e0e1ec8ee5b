// The start-up prompts' dialog templates and texts in the agent's resource module
// "VdAgentRes.dll", shared by the resource script, the simulated machine's copy of the module
// and the prompt classes. Plain #defines: the resource compiler reads this file too.
#pragma once

// Templates. Each has: the message (a static text, IDC_PROMPT_TEXT), the do-not-ask-again
// check box IDC_DONT_ASK_AGAIN, and the buttons IDOK (accept) and IDCANCEL (decline).
#define IDD_ASK_REGISTER_AT_START 210  // enrollment required or recommended, before Windows 8
#define IDD_ASK_REGISTER 211           // fingerprint enrollment recommended
#define IDD_REENROLLMENT_PROMPT 212    // fingerprint re-enrollment
#define IDC_PROMPT_TEXT 1000
#define IDC_DONT_ASK_AGAIN 1021

// Texts.
#define IDS_FP_ENROLLMENT_RECOMMENDED 124  // the fingerprint notification's text
#define IDS_NOTIFY_TITLE 131               // title of every reminder (the tray tooltip too)
#define IDS_ADDITIONAL_CREDENTIALS 196
#define IDS_ENROLLMENT_NEEDED 197
#define IDS_TOAST_BUTTON 620  // the toasts' action button
// The prompts' messages, and their "Classic Home" wording.
#define IDS_PROMPT_REGISTER_AT_START 213
#define IDS_PROMPT_REGISTER_AT_START_HOME 214
#define IDS_PROMPT_REGISTER 215
#define IDS_PROMPT_REGISTER_HOME 216
#define IDS_PROMPT_REENROLLMENT 217
