#include "system/run_folder.h"

#include "system/folder_handles.h"
#include "system/paths.h"
#include "system/private_folder.h"

#include <windows.h>

#include <cstdio>
#include <iterator>
#include <mutex>

namespace {

struct RunFolderState {
    std::mutex lock;
    std::wstring path;
    HeldFolder hold;
};

RunFolderState& State()
{
    static RunFolderState state;
    return state;
}

}  // namespace

std::wstring RunFolder()
{
    RunFolderState& state = State();
    std::lock_guard<std::mutex> hold(state.lock);
    if (!state.path.empty())
        return state.path;
    const std::wstring temp = TempDirectory();
    if (temp.empty())
        return {};
    // A folder that exists already, whoever made it, is never taken over:
    // only one this call created is the run's.
    for (unsigned attempt = 0; attempt < 1000; ++attempt) {
        wchar_t name[64];
        std::swprintf(name, std::size(name), L"setup-run-%lu-%u", ::GetCurrentProcessId(), attempt);
        const std::wstring folder = JoinPath(temp, name);
        if (folder.size() + 1 + kRunFileNameRoom >= MAX_PATH)
            return {};
        if (!CreatePrivateFolder(folder)) {
            if (::GetLastError() == ERROR_ALREADY_EXISTS)
                continue;
            return {};
        }
        // Held without write or delete sharing and without following a
        // link, so nobody can rename it and put another folder (or a link
        // elsewhere) in its place while the run uses it.
        if (!OpenFolderNoFollow(folder, FILE_SHARE_READ, &state.hold, DELETE))
            return {};
        state.path = folder;
        return folder;
    }
    return {};
}

void RemoveRunFolder()
{
    RunFolderState& state = State();
    std::lock_guard<std::mutex> hold(state.lock);
    if (state.path.empty())
        return;
    // The folder goes through its own hold, empty, never by name.
    DeleteHeldFolder(&state.hold);
    state.path.clear();
}
