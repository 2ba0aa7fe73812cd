#include "config/run_copy.h"

#include "system/paths.h"
#include "system/run_folder.h"
#include "system/unique_handle.h"

#include <mutex>
#include <optional>
#include <string_view>

static_assert(std::char_traits<wchar_t>::length(kConfigFileName) <= kRunFileNameRoom,
              "the run's folder leaves room for its configuration copy");

namespace {

// The pages write on the user-interface thread, the silent installation on
// its own.
struct RunCopyState {
    std::mutex lock;
    // The run's copy, with the values set since, and its file: held from
    // its creation so that nobody else can write or delete it; its later
    // versions go through this handle, and it goes when the handle closes,
    // also when the process is ended from outside. Nothing deletes it by
    // name, and nothing reads it back.
    std::optional<Configuration> copy;
    UniqueFile held;
};

RunCopyState& State()
{
    static RunCopyState state;
    return state;
}

bool WriteWhole(HANDLE file, const std::string& bytes)
{
    LARGE_INTEGER zero{};
    if (!::SetFilePointerEx(file, zero, nullptr, FILE_BEGIN))
        return false;
    DWORD written = 0;
    if (!bytes.empty() &&
        (!::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
         written != bytes.size()))
        return false;
    return ::SetEndOfFile(file) != FALSE;
}

// The run's configuration copy: a new file that lives as long as its handle.
UniqueFile CreateHeldCopy(const std::wstring& path)
{
    return UniqueFile(::CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
}

}  // namespace

std::wstring ConfigFilePath()
{
    const std::wstring folder = RunFolder();
    return folder.empty() ? std::wstring() : JoinPath(folder, kConfigFileName);
}

int WriteConfigFile(const Configuration& configuration)
{
    const std::wstring path = ConfigFilePath();
    if (path.empty())
        return 0;
    RunCopyState& state = State();
    std::lock_guard<std::mutex> hold(state.lock);
    state.copy = configuration;
    state.held.reset();
    state.held = CreateHeldCopy(path);
    return state.held && WriteWhole(state.held.get(), configuration.Bytes()) ? 1 : 0;
}

void DeleteConfigFile()
{
    RunCopyState& state = State();
    std::lock_guard<std::mutex> hold(state.lock);
    state.copy.reset();
    state.held.reset();
}

bool WriteSetting(const std::wstring& key, const std::wstring& value)
{
    const std::wstring path = ConfigFilePath();
    if (path.empty())
        return false;
    RunCopyState& state = State();
    std::lock_guard<std::mutex> hold(state.lock);
    if (!state.copy)
        state.copy.emplace();
    state.copy->Set(kConfigSection, key, value);
    if (!state.held)
        state.held = CreateHeldCopy(path);
    return state.held && WriteWhole(state.held.get(), state.copy->Bytes());
}
