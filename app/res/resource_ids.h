// Identifiers of the agent's own resources (executable and resource module).
#pragma once

#define IDI_VDAGENT 101

// VdAgent.exe's own resources the registration points the shell at: the Start menu
// shortcut's icon (index -3), the Control Panel item's icon, name and tip, its task's name
// and keywords, and its tasks file in three editions' variants (mobile enrollment, any
// other, the OEM edition).
#define IDI_SHORTCUT 3
#define IDI_CONTROL_PANEL 108
#define IDS_CPL_NAME 103
#define IDS_CPL_INFOTIP 910
#define IDS_CPL_TASK_NAME 911
#define IDS_CPL_TASK_KEYWORDS 912
#define IDX_CPL_TASKS_MOBILE 902
#define IDX_CPL_TASKS 903
#define IDX_CPL_TASKS_OEM 904
// The avatar's picture strip (scripts/make-avatar.py draws it): four square 32-bit frames with
// alpha side by side. A bitmap, so it shares its number with the icon above.
#define IDB_AVATAR 108

// Texts of the resource module VdAgentRes.dll (agent_strings.h holds their wording).
// The balloon shown when a fingerprint reader is connected and the user could enroll.
#define IDS_READER_CONNECTED_TEXT 122
#define IDS_READER_CONNECTED_TITLE 124  // the fingerprint enrollment recommendation's text
// The balloon shown to an administrator when the reader's driver is missing.
#define IDS_NO_DRIVERS_TITLE 605
#define IDS_NO_DRIVERS_TEXT 607
// The feedback window's balloon after a failed recognition, by the failure's result code.
#define IDS_FEEDBACK_FAILED 114
#define IDS_FEEDBACK_NOT_READ 115
#define IDS_FEEDBACK_NOT_RECOGNIZED 116
#define IDS_FEEDBACK_UNAVAILABLE 117
// The tray icon's tooltip, also the title of notifications that bring none (the
// reminders' title).
#define IDS_TRAY_TOOLTIP 131
// The tray menu: open the console (the default item), help, about.
#define IDS_MENU_OPEN_CONSOLE 193
#define IDS_MENU_HELP 535
#define IDS_MENU_ABOUT 536
// The product's name and short name: what "<<%PN%>>" and "<<%MA%>>" in a text stand for.
#define IDS_PRODUCT_NAME 1100
#define IDS_AGENT_CAPTION 1101
#define IDS_PRODUCT_SHORT_NAME 1103
#include "launch/about_resources.h"  // the About box's template and texts

// Tray icons of the resource module (scripts/make-icons.py draws them): the two resting
// icons, without and with a fingerprint reader, and the frames of a flash.
#define IDI_TRAY_NO_READER 131
#define IDI_TRAY_READER 132
#define IDI_TRAY_FLASH_1 133
#define IDI_TRAY_FLASH_2 134
#define IDI_TRAY_FLASH_3 135
#define IDI_TRAY_FLASH_4 136
