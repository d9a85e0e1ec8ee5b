// The one place the agent's version is written; the version resources read it.
#pragma once

#define VD_VERSION_MAJOR 5
#define VD_VERSION_MINOR 0
#define VD_VERSION_BUILD 0
#define VD_VERSION_REVISION 1
#define VD_VERSION_TEXT "5.0.0.1"
