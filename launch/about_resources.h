// Resource numbers of the About box: its dialog template in the agent's resource module
// (app/res/agent_dialogs.h) and the texts it shows.
#pragma once

#define IDD_ABOUT 220
#define IDC_ABOUT_PRODUCT 1030
#define IDC_ABOUT_VERSION 1031
#define IDC_ABOUT_LEGAL 1032
#define IDC_ABOUT_LINK 1033  // a "SysLink" control

#define IDS_ABOUT_CAPTION 1104
#define IDS_ABOUT_LEGAL 1105
#define IDS_ABOUT_URL 1106  // the web address the link opens
