// Starting a program with a quoted program path, as the dashboard's launchers do.
//
//   ProcessStarter(plat, L"C:\\Tools\\app.exe", nullptr);          // "C:\Tools\app.exe"
//   ProcessStarter(plat, browser.c_str(), L"\"https://x.example\""); // "<browser>" "https://..."
//
// The command line is "\"<program>\" <arguments>" (or "\"<program>\"" without arguments),
// traced as "Command line: '%ls'"; the program is also the application name, so the search
// path plays no part. A program that is null or holds a quotation mark (it would end the
// quoted path early) gives E_INVALIDARG. Both returned handles are closed at once.
#pragma once

#include "platform/platform.h"

HRESULT ProcessStarter(platform::IPlatform& plat, LPCWSTR program, LPCWSTR arguments);
