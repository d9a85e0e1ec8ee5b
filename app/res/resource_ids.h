// Identifiers of the agent's own resources (executable and resource module).
#pragma once

#define IDI_VDAGENT 101

// Texts of the resource module VdAgentRes.dll (agent_strings.h holds their wording).
// The balloon shown when a fingerprint reader is connected and the user could enroll.
#define IDS_READER_CONNECTED_TEXT 122
#define IDS_READER_CONNECTED_TITLE 124
// The balloon shown to an administrator when the reader's driver is missing.
#define IDS_NO_DRIVERS_TITLE 605
#define IDS_NO_DRIVERS_TEXT 607
#define IDS_PRODUCT_NAME 1100
#define IDS_AGENT_CAPTION 1101
#define IDS_TRAY_TOOLTIP 1103
#define IDS_ABOUT_CAPTION 1104
#define IDS_ABOUT_LEGAL 1105
