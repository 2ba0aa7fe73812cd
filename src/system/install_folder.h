// Which folders an installation may replace. The installer deletes the
// folder it installs into when it holds an earlier installation, so it must
// never take a drive root, a folder the system itself uses, or someone
// else's folder for one.
#pragma once

#include <string>

// True for the forms \\?\..., \\.\... and \??\... (either slash), which
// reach past the system's handling of names; no installation folder may
// take one.
bool IsDevicePathForm(const std::wstring& path);

// The installation folder as a full path without a trailing backslash
// ("D:\Games\Tovani" for "D:/Games/Tovani\"), resolving "." and "..".
// Empty when the stored folder is empty, not an absolute path, or one of
// the device forms.
std::wstring NormalizeInstallDir(const std::wstring& stored);

// True for a drive root, a system folder (the Windows folder, both Program
// Files folders, ProgramData, the user profile, the desktop, documents,
// downloads) and any folder above one of them. folder is normalized.
bool IsProtectedFolder(const std::wstring& folder);

enum class FolderState {
    Absent,            // nothing of that name
    Empty,             // an empty folder
    EarlierInstall,    // a folder holding the main program, or only the user data file
    Foreign,           // a folder with other content, or a file
};

// userDataFile, when given, is the user data file relative to the folder: a
// folder holding nothing else is what an uninstallation that kept it left.
FolderState ClassifyInstallFolder(const std::wstring& folder, const std::wstring& mainProgram,
                                  const std::wstring& userDataFile = {});

// True when some file under folder cannot be opened for exclusive delete
// access: a running program or another process holds it, or it may not be
// deleted. This works where a folder rename would not tell (Wine renames a
// folder that holds open files). *blocked receives the first such file.
bool HasFileInUse(const std::wstring& folder, std::wstring* blocked = nullptr);
