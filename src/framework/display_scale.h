// The display scale a window is drawn at, and the system's measures for it.
// The per-monitor functions exist from Windows 10 on; each is looked up when
// first used, so that the program still starts on older systems, where the
// whole screen has one scale (the system's) and these fall back to it.
#pragma once

#include <windows.h>

namespace framework {

// The layouts' own scale: 96 dots per inch is 100%.
inline constexpr UINT kDefaultDpi = USER_DEFAULT_SCREEN_DPI;

// value, given at 96 DPI, at dpi; halves round away from zero.
inline int ScaleForDpi(int value, UINT dpi) { return ::MulDiv(value, static_cast<int>(dpi), kDefaultDpi); }

// The DPI window is drawn at: its monitor's for a per-monitor-aware program,
// else the system's; 96 when nothing can be asked.
UINT WindowDpi(HWND window);

// GetSystemMetrics at dpi where the system can, else at the system's.
int SystemMetricForDpi(int index, UINT dpi);

// Keeps the dialog manager from rescaling the dialog's controls and fonts
// itself when its monitor's scale changes: the wizard lays itself out from
// its own tables instead. Nothing where the system has no such behaviour.
void KeepDialogFromScalingItself(HWND dialog);

}  // namespace framework
