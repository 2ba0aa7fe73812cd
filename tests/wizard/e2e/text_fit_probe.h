// What the display-scale test and the probe it loads into setup.exe share.
#pragma once

inline constexpr const wchar_t* kTextFitRequest = L"Local\\wizard-text-fit-request";
inline constexpr const wchar_t* kTextFitDone = L"Local\\wizard-text-fit-done";
inline constexpr const wchar_t* kTextFitReport = L"D:\\e2e\\work\\text-fit.txt";
inline constexpr const wchar_t* kFrameTitle = L"游戏安装向导";
