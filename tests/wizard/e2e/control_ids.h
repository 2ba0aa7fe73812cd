// The pages' control ids as a driver presses and reads them; the same id
// stands for the same role on every page that has it.
#pragma once

namespace e2e {

inline constexpr int kNext = 1006;
inline constexpr int kBack = 1009;
inline constexpr int kCancel = 1029;
inline constexpr int kInstall = 1025;
inline constexpr int kBrowse = 1008;
inline constexpr int kFolderEdit = 1007;
inline constexpr int kSummary = 1024;
inline constexpr int kStatus = 1014;
inline constexpr int kDetail = 1015;
inline constexpr int kFinishButton = 1;
inline constexpr int kRunNow = 1028;

}  // namespace e2e
