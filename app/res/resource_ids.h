// Identifiers of the agent's own resources (executable and resource module).
#pragma once

#define IDI_VDAGENT 101

// Texts of the resource module VdAgentRes.dll.
#define IDS_PRODUCT_NAME 1100
#define IDS_AGENT_CAPTION 1101
#define IDS_TRAY_TOOLTIP 1103
#define IDS_ABOUT_CAPTION 1104
#define IDS_ABOUT_LEGAL 1105
