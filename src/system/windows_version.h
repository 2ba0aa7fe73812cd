// The short name of the running Windows, and whether it is a "newer" one on
// which the installer avoids proposing the system drive.
#pragma once

#include <windows.h>

#include <string>

// The name of every system the table does not know: 未知 in GBK.
inline constexpr const char* kUnknownWindowsName = "\xCE\xB4\xD6\xAA";

// The name for a version record's fields: "WIN95", "WIN98", "WINME",
// "WINNT", "WIN2000", "WINXP", "WIN2003", "WINVISTA", "WIN2008", "WIN7",
// "WIN2008R2", "WIN8", or kUnknownWindowsName. productType is looked at only
// for major version 6.
std::string ClassifyWindowsVersion(DWORD platformId, DWORD majorVersion, DWORD minorVersion, BYTE productType);

// ClassifyWindowsVersion of what GetVersionExW reports; kUnknownWindowsName
// when it reports nothing.
std::string GetWindowsVersionName();

// True exactly for "WIN7", "WINVISTA", "WIN2008" and "WIN8", compared whole
// and case-sensitively ("WIN2008R2" is not newer).
bool IsNewerWindows(const std::string& name);
