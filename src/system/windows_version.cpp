#include "system/windows_version.h"

std::string ClassifyWindowsVersion(DWORD platformId, DWORD majorVersion, DWORD minorVersion, BYTE productType)
{
    if (platformId == VER_PLATFORM_WIN32_WINDOWS) {
        switch (minorVersion) {
        case 0:
            return "WIN95";
        case 10:
            return "WIN98";
        case 90:
            return "WINME";
        default:
            return kUnknownWindowsName;
        }
    }
    if (platformId != VER_PLATFORM_WIN32_NT)
        return kUnknownWindowsName;
    if (majorVersion <= 4)
        return "WINNT";
    if (majorVersion == 5) {
        switch (minorVersion) {
        case 0:
            return "WIN2000";
        case 1:
            return "WINXP";
        case 2:
            return "WIN2003";
        default:
            return kUnknownWindowsName;
        }
    }
    if (majorVersion == 6) {
        const bool workstation = productType == VER_NT_WORKSTATION;
        switch (minorVersion) {
        case 0:
            return workstation ? "WINVISTA" : "WIN2008";
        case 1:
            return workstation ? "WIN7" : "WIN2008R2";
        case 2:
            return "WIN8";
        default:
            return kUnknownWindowsName;
        }
    }
    return kUnknownWindowsName;
}

std::string GetWindowsVersionName()
{
    // Zero-filled, so a system that fills in nothing reads as platform 0:
    // unknown.
    OSVERSIONINFOEXW info = {};
    info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXW);
    auto* basic = reinterpret_cast<OSVERSIONINFOW*>(&info);
    if (!::GetVersionExW(basic)) {
        // Systems before the extended record refuse its size.
        info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
        ::GetVersionExW(basic);
    }
    return ClassifyWindowsVersion(info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion, info.wProductType);
}

bool IsNewerWindows(const std::string& name)
{
    for (const char* newer : {"WIN7", "WINVISTA", "WIN2008", "WIN8"}) {
        if (name == newer)
            return true;
    }
    return false;
}
