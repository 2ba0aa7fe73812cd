#include "e2e/driver.h"

#include "package/package.h"
#include "package/payload_digest.h"
#include "pages/resource.h"

#include <algorithm>

#include <commctrl.h>
#include <shlobj.h>

#include <exception>
#include <memory>

namespace e2e {

namespace {

constexpr const wchar_t* kFrameTitle = L"游戏安装向导";

struct TopLevelSearch {
    DWORD processId;
    std::function<bool(HWND)> accept;
    HWND found = nullptr;
};

BOOL CALLBACK AcceptTopLevel(HWND window, LPARAM context)
{
    auto* search = reinterpret_cast<TopLevelSearch*>(context);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || !search->accept(window))
        return TRUE;
    search->found = window;
    return FALSE;
}

HWND FindTopLevel(DWORD processId, const std::function<bool(HWND)>& accept)
{
    TopLevelSearch search{processId, accept};
    ::EnumWindows(&AcceptTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::wstring ClassName(HWND window)
{
    wchar_t name[128] = {};
    ::GetClassNameW(window, name, 128);
    return name;
}

struct ChildSearch {
    std::function<bool(HWND)> accept;
    HWND found = nullptr;
};

BOOL CALLBACK AcceptChild(HWND window, LPARAM context)
{
    auto* search = reinterpret_cast<ChildSearch*>(context);
    if (!search->accept(window))
        return TRUE;
    search->found = window;
    return FALSE;
}

HWND FindDescendant(HWND parent, const std::function<bool(HWND)>& accept)
{
    ChildSearch search{accept};
    ::EnumChildWindows(parent, &AcceptChild, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace

const char* PageName(Page page)
{
    switch (page) {
    case Page::kNone:
        return "none";
    case Page::kWelcome:
        return "welcome";
    case Page::kDestination:
        return "destination";
    case Page::kReady:
        return "ready";
    case Page::kInstalling:
        return "installing";
    case Page::kFinish:
        return "finish";
    case Page::kCancelled:
        return "cancelled";
    }
    return "?";
}

std::wstring WindowText(HWND window)
{
    if (!window)
        return {};
    wchar_t text[1024] = {};
    DWORD_PTR copied = 0;
    if (!::SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000,
                               &copied))
        return {};
    return std::wstring(text, copied);
}

std::wstring ItemText(HWND dialog, int id) { return WindowText(::GetDlgItem(dialog, id)); }

std::vector<std::wstring> ListLines(HWND listBox)
{
    std::vector<std::wstring> lines;
    DWORD_PTR count = 0;
    if (!::SendMessageTimeoutW(listBox, LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 5000, &count))
        return lines;
    for (DWORD_PTR i = 0; i < count; ++i) {
        wchar_t line[1024] = {};
        DWORD_PTR length = 0;
        DWORD_PTR needed = 0;
        ::SendMessageTimeoutW(listBox, LB_GETTEXTLEN, i, 0, SMTO_ABORTIFHUNG, 5000, &needed);
        if (needed >= 1024)
            continue;
        ::SendMessageTimeoutW(listBox, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line), SMTO_ABORTIFHUNG, 5000,
                              &length);
        lines.emplace_back(line, length);
    }
    return lines;
}

void Click(HWND dialog, int id) { ::PostMessageW(::GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

void PressKey(HWND window, WORD key)
{
    const UINT scan = ::MapVirtualKeyW(key, MAPVK_VK_TO_VSC);
    ::PostMessageW(window, WM_KEYDOWN, key, static_cast<LPARAM>(1 | (scan << 16)));
    ::PostMessageW(window, WM_KEYUP, key, static_cast<LPARAM>(1 | (scan << 16) | (3u << 30)));
}

SetupProcess::SetupProcess(const std::wstring& exe, const std::vector<std::wstring>& extraEnvironment,
                           const std::wstring& arguments)
{
    // An environment block of our own variables plus the extra ones.
    // An extra variable replaces one of ours of the same name.
    auto overridden = [&](const wchar_t* entry) {
        const wchar_t* equals = wcschr(entry + 1, L'=');
        const size_t nameLength = equals ? static_cast<size_t>(equals - entry) + 1 : wcslen(entry);
        for (const auto& extra : extraEnvironment) {
            if (extra.size() >= nameLength && _wcsnicmp(extra.c_str(), entry, nameLength) == 0)
                return true;
        }
        return false;
    };
    std::wstring environment;
    if (wchar_t* own = ::GetEnvironmentStringsW()) {
        for (const wchar_t* entry = own; *entry; entry += wcslen(entry) + 1) {
            if (!overridden(entry))
                environment.append(entry).push_back(L'\0');
        }
        ::FreeEnvironmentStringsW(own);
    }
    for (const auto& extra : extraEnvironment)
        environment.append(extra).push_back(L'\0');
    environment.push_back(L'\0');

    const std::wstring folder = exe.substr(0, exe.find_last_of(L'\\'));
    std::wstring commandLine = L"\"" + exe + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    if (!::CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                          environment.data(), folder.c_str(), &startup, &info_))
        info_ = {};
}

SetupProcess::~SetupProcess()
{
    if (!info_.hProcess)
        return;
    // A test that failed half-way must not leave its wizard to the next one.
    if (::WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
        ::TerminateProcess(info_.hProcess, 99);
        ::WaitForSingleObject(info_.hProcess, 5000);
    }
    ::CloseHandle(info_.hThread);
    ::CloseHandle(info_.hProcess);
}

bool SetupProcess::WaitForExit(DWORD timeoutMs) const
{
    return info_.hProcess && ::WaitForSingleObject(info_.hProcess, timeoutMs) == WAIT_OBJECT_0;
}

DWORD SetupProcess::ExitCode() const
{
    DWORD code = STILL_ACTIVE;
    if (info_.hProcess)
        ::GetExitCodeProcess(info_.hProcess, &code);
    return code;
}

HWND SetupProcess::WaitForFrame(DWORD timeoutMs)
{
    WaitUntil(
        [&] {
            frame_ = FindTopLevel(Id(), [](HWND w) { return ::IsWindowVisible(w) && WindowText(w) == kFrameTitle; });
            return frame_ != nullptr || WaitForExit(0);
        },
        timeoutMs);
    return frame_;
}

HWND SetupProcess::ShownPage() const
{
    if (!frame_)
        return nullptr;
    for (HWND child = ::GetWindow(frame_, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (::IsWindowVisible(child))
            return child;
    }
    return nullptr;
}

Page IdentifyPage(HWND page)
{
    if (!page)
        return Page::kNone;
    // Ids repeat across pages: test the ones unique to a page first.
    if (::GetDlgItem(page, IDC_FINISH_DONE))
        return ItemText(page, IDC_FINISH_TITLE_TAIL) == L"安装已取消。" ? Page::kCancelled : Page::kFinish;
    if (::GetDlgItem(page, IDC_INSTALLING_PROGRESS))
        return Page::kInstalling;
    if (::GetDlgItem(page, IDC_READY_INSTALL))
        return Page::kReady;
    if (::GetDlgItem(page, IDC_WELCOME_TITLE_LEAD))
        return Page::kWelcome;
    if (::GetDlgItem(page, IDC_DEST_QUESTION_NAME))
        return Page::kDestination;
    return Page::kNone;
}

Page SetupProcess::ShownPageKind() const { return IdentifyPage(ShownPage()); }

HWND SetupProcess::WaitForPage(Page page, DWORD timeoutMs) const
{
    HWND found = nullptr;
    WaitUntil(
        [&] {
            HWND shown = ShownPage();
            if (IdentifyPage(shown) == page)
                found = shown;
            return found != nullptr;
        },
        timeoutMs);
    return found;
}

HWND SetupProcess::FindBox(const std::wstring& caption) const
{
    // The frame is a dialog too, and a box may share its caption.
    return FindTopLevel(Id(), [&](HWND w) {
        return w != frame_ && ::IsWindowVisible(w) && ClassName(w) == L"#32770" && WindowText(w) == caption;
    });
}

HWND SetupProcess::WaitForBox(const std::wstring& caption, DWORD timeoutMs) const
{
    HWND box = nullptr;
    WaitUntil([&] { return (box = FindBox(caption)) != nullptr; }, timeoutMs);
    return box;
}

HWND SetupProcess::WaitForFolderDialog(DWORD timeoutMs) const
{
    HWND dialog = nullptr;
    WaitUntil(
        [&] {
            dialog = FindTopLevel(Id(), [](HWND w) {
                return ::IsWindowVisible(w) && ClassName(w) == L"#32770" &&
                       FindDescendant(w, [](HWND c) { return ClassName(c) == L"SysTreeView32"; }) != nullptr;
            });
            return dialog != nullptr;
        },
        timeoutMs);
    return dialog;
}

namespace {

// Memory in another process for the messages that carry pointers.
class RemoteBlock {
public:
    RemoteBlock(HANDLE process, SIZE_T bytes)
        : process_(process), address_(::VirtualAllocEx(process, nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE))
    {
    }
    ~RemoteBlock()
    {
        if (address_)
            ::VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    }
    RemoteBlock(const RemoteBlock&) = delete;
    RemoteBlock& operator=(const RemoteBlock&) = delete;

    char* Address() const { return static_cast<char*>(address_); }
    bool Write(SIZE_T offset, const void* data, SIZE_T bytes) const
    {
        SIZE_T written = 0;
        return address_ && ::WriteProcessMemory(process_, Address() + offset, data, bytes, &written) && written == bytes;
    }
    bool Read(SIZE_T offset, void* data, SIZE_T bytes) const
    {
        SIZE_T read = 0;
        return address_ && ::ReadProcessMemory(process_, Address() + offset, data, bytes, &read) && read == bytes;
    }

private:
    HANDLE process_;
    void* address_;
};

// The label of the folder dialog's selected tree item.
std::wstring SelectedFolderLabel(HANDLE process, HWND dialog)
{
    HWND tree = FindDescendant(dialog, [](HWND c) { return ClassName(c) == L"SysTreeView32"; });
    DWORD_PTR item = 0;
    if (!tree || !::SendMessageTimeoutW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0, SMTO_ABORTIFHUNG, 5000, &item) || !item)
        return {};
    RemoteBlock block(process, sizeof(TVITEMW) + MAX_PATH * sizeof(wchar_t));
    TVITEMW request{};
    request.mask = TVIF_TEXT;
    request.hItem = reinterpret_cast<HTREEITEM>(item);
    request.pszText = reinterpret_cast<wchar_t*>(block.Address() + sizeof(TVITEMW));
    request.cchTextMax = MAX_PATH;
    wchar_t label[MAX_PATH] = {};
    DWORD_PTR result = 0;
    if (!block.Write(0, &request, sizeof(request)) || !block.Write(sizeof(TVITEMW), label, sizeof(label)) ||
        !::SendMessageTimeoutW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(block.Address()), SMTO_ABORTIFHUNG,
                               5000, &result) ||
        !block.Read(sizeof(TVITEMW), label, sizeof(label)))
        return {};
    label[MAX_PATH - 1] = L'\0';
    return label;
}

}  // namespace

bool SetupProcess::ChooseInFolderDialog(HWND dialog, const std::wstring& path) const
{
    // The item the dialog should end up on: the path's last folder, or the
    // drive for a drive root.
    std::wstring trimmed = path;
    while (trimmed.size() > 3 && trimmed.back() == L'\\')
        trimmed.pop_back();
    const std::wstring expected =
        trimmed.size() <= 3 ? trimmed.substr(0, 2) : trimmed.substr(trimmed.find_last_of(L'\\') + 1);
    // BFFM_SETSELECTIONW carries a pointer, so the path must live in the
    // dialog's own process. The dialog may still be filling its tree when
    // it first shows, and a selection made then is lost: select until the
    // tree shows it.
    const SIZE_T bytes = (path.size() + 1) * sizeof(wchar_t);
    RemoteBlock remote(info_.hProcess, bytes);
    if (!remote.Write(0, path.c_str(), bytes))
        return false;
    const bool selected = WaitUntil([&] {
        DWORD_PTR result = 0;
        ::SendMessageTimeoutW(dialog, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(remote.Address()),
                              SMTO_ABORTIFHUNG, 5000, &result);
        ::Sleep(100);
        return SelectedFolderLabel(info_.hProcess, dialog).find(expected) != std::wstring::npos;
    });
    if (selected)
        Click(dialog, IDOK);
    return selected;
}

bool SetupProcess::LoadLibraryInto(const std::wstring& dll) const
{
    const SIZE_T bytes = (dll.size() + 1) * sizeof(wchar_t);
    RemoteBlock path(info_.hProcess, bytes);
    // kernel32 lies at the same place in every process of the prefix.
    const auto load = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "LoadLibraryW")));
    if (!load || !path.Write(0, dll.c_str(), bytes))
        return false;
    HANDLE thread = ::CreateRemoteThread(info_.hProcess, nullptr, 0, load, path.Address(), 0, nullptr);
    if (!thread)
        return false;
    DWORD loaded = 0;
    const bool ended = ::WaitForSingleObject(thread, kDeadlineMs) == WAIT_OBJECT_0;
    ::GetExitCodeThread(thread, &loaded);
    ::CloseHandle(thread);
    return ended && loaded != 0;
}

int SetupProcess::CountBoxes(const std::wstring& caption) const
{
    int count = 0;
    FindTopLevel(Id(), [&](HWND window) {
        count += ::IsWindowVisible(window) && WindowText(window) == caption;
        return false;
    });
    return count;
}

HWND SetupProcess::FocusWindow() const
{
    if (!frame_)
        return nullptr;
    GUITHREADINFO gui{};
    gui.cbSize = sizeof(gui);
    if (!::GetGUIThreadInfo(::GetWindowThreadProcessId(frame_, nullptr), &gui))
        return nullptr;
    return gui.hwndFocus;
}

std::wstring BoxText(HWND box)
{
    HWND text = FindDescendant(box, [](HWND c) {
        return ClassName(c) == L"Static" && !WindowText(c).empty() && !(::GetWindowLongW(c, GWL_STYLE) & SS_ICON);
    });
    return WindowText(text);
}

void AnswerBox(HWND box, int buttonId) { Click(box, buttonId); }

bool SaveScreenshot(const std::wstring& name, std::initializer_list<HWND> windows)
{
    RECT area{};
    bool any = false;
    for (HWND window : windows) {
        RECT r{};
        if (!window || !::GetWindowRect(window, &r))
            continue;
        if (!any)
            area = r;
        else
            ::UnionRect(&area, &area, &r);
        any = true;
    }
    if (!any)
        return false;
    // Let the windows finish painting what they were just told.
    ::Sleep(300);
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (bitmap) {
        HGDIOBJ old = ::SelectObject(memory, bitmap);
        ok = ::BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY) != FALSE;
        ::GdiFlush();
        ::SelectObject(memory, old);
        const DWORD stride = ((static_cast<DWORD>(width) * 3 + 3) / 4) * 4;
        const DWORD imageSize = stride * static_cast<DWORD>(height);
        BITMAPFILEHEADER file{};
        file.bfType = 0x4D42;
        file.bfOffBits = sizeof(file) + sizeof(info.bmiHeader);
        file.bfSize = file.bfOffBits + imageSize;
        std::string bytes(reinterpret_cast<const char*>(&file), sizeof(file));
        bytes.append(reinterpret_cast<const char*>(&info.bmiHeader), sizeof(info.bmiHeader));
        bytes.append(static_cast<const char*>(bits), imageSize);
        ::CreateDirectoryW(kShotsFolder, nullptr);
        ok = ok && WriteFileBytes(std::wstring(kShotsFolder) + L"\\" + name + L".bmp", bytes);
        ::DeleteObject(bitmap);
    }
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    return ok;
}

std::string ReadFileBytes(const std::wstring& path)
{
    try {
        return testing_support::ReadBytes(path);
    } catch (const std::exception&) {
        return {};
    }
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    try {
        testing_support::WriteBytes(path, bytes);
        return testing_support::ReadBytes(path).size() == bytes.size();
    } catch (const std::exception&) {
        return false;
    }
}

std::wstring TempFolder()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH, path);
    wchar_t longPath[MAX_PATH] = {};
    if (length && ::GetLongPathNameW(path, longPath, MAX_PATH))
        return longPath;
    return path;
}

std::vector<std::wstring> RunFolders()
{
    std::vector<std::wstring> folders;
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((TempFolder() + L"setup-run-*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return folders;
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            folders.push_back(TempFolder() + data.cFileName);
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
    std::sort(folders.begin(), folders.end());
    return folders;
}

std::wstring RunConfigFile()
{
    const std::vector<std::wstring> folders = RunFolders();
    return (folders.empty() ? TempFolder() + L"setup-run-none" : folders.front()) + L"\\incfg.ini";
}

std::wstring SpecialFolder(int csidl)
{
    wchar_t path[MAX_PATH] = {};
    if (!::SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE))
        return {};
    return path;
}

std::string WideToCodePage(const std::wstring& text, UINT codePage)
{
    if (text.empty())
        return {};
    const int bytes = ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                            nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes), '\0');
    ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), bytes, nullptr,
                          nullptr);
    return out;
}

std::wstring UninstallKey(const std::wstring& displayName)
{
    return L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + displayName;
}

bool UninstallKeyExists(const std::wstring& displayName)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, UninstallKey(displayName).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    ::RegCloseKey(key);
    return true;
}

std::wstring UninstallValue(const std::wstring& displayName, const wchar_t* name)
{
    wchar_t value[1024] = {};
    DWORD size = sizeof(value);
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, UninstallKey(displayName).c_str(), name, RRF_RT_REG_SZ, nullptr, value,
                       &size) != ERROR_SUCCESS)
        return {};
    return value;
}

std::wstring DesktopLink(const std::wstring& linkName)
{
    return SpecialFolder(CSIDL_DESKTOPDIRECTORY) + L"\\" + linkName + L".lnk";
}

std::wstring ProgramGroup(const std::wstring& displayName)
{
    return SpecialFolder(CSIDL_PROGRAMS) + L"\\" + displayName;
}

std::vector<std::wstring> Leftovers(const std::wstring& installDir)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((installDir + L".*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    // "Tovani.*" matches "Tovani" itself too.
    const size_t own = installDir.size() - installDir.rfind(L'\\') - 1;
    do {
        if (::lstrlenW(data.cFileName) > static_cast<int>(own))
            names.push_back(data.cFileName);
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
    return names;
}

namespace {

// Sets resource (type, id) of exe to bytes, or removes it when bytes is null,
// through setres: the system's update functions cannot be relied on to
// remove a resource under Wine.
bool SetResource(const std::wstring& exe, const wchar_t* type, int id, const std::string* bytes)
{
    const std::wstring file = bytes ? exe + L".resource" : L"-";
    if (bytes && !WriteFileBytes(file, *bytes))
        return false;
    const std::wstring setres = std::wstring(kBinFolder) + L"\\setres.exe";
    std::wstring commandLine =
        L"\"" + setres + L"\" \"" + exe + L"\" " + type + L" " + std::to_wstring(id) + L" \"" + file + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    DWORD code = 1;
    if (::CreateProcessW(setres.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                         &info)) {
        if (::WaitForSingleObject(info.hProcess, kDeadlineMs) == WAIT_OBJECT_0)
            ::GetExitCodeProcess(info.hProcess, &code);
        ::CloseHandle(info.hThread);
        ::CloseHandle(info.hProcess);
    }
    if (bytes)
        ::DeleteFileW(file.c_str());
    return code == 0;
}

}  // namespace

bool CopyChangingResource(const std::wstring& source, const std::wstring& target, const wchar_t* type, int id,
                          const std::string* bytes)
{
    return ::CopyFileW(source.c_str(), target.c_str(), FALSE) && SetResource(target, type, id, bytes);
}

bool CopyWithResource(const std::wstring& source, const std::wstring& target, const wchar_t* type, int id,
                      const std::string& bytes)
{
    if (!CopyChangingResource(source, target, type, id, &bytes))
        return false;
    if (ReadResource(source, kDigestResourceType, kDigestResourceId).empty())
        return true;
    // The copy is made as make-installer makes an installer: its table of
    // entries and its digest fit what it carries.
    const std::string archive = ReadResource(target, L"DATA", 148);
    const std::wstring archiveFile = target + L".payload";
    std::string table;
    if (WriteFileBytes(archiveFile, archive)) {
        UniqueFile file(::CreateFileW(archiveFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        // An archive whose files cannot be read (a damaged one, on purpose)
        // carries a table of no entries: a resource cannot be empty.
        if (file && !MakeEntryDigestTable(file.get(), 0, archive.size(), &table))
            table.assign(1, '\n');
    }
    ::DeleteFileW(archiveFile.c_str());
    if (!SetResource(target, kDigestResourceType, kEntryDigestsResourceId, &table))
        return false;
    const PayloadDigest digest = ComputePayloadDigest(ReadResource(target, L"INI", 138), archive, table);
    const std::string digestBytes(digest.begin(), digest.end());
    return SetResource(target, kDigestResourceType, kDigestResourceId, &digestBytes);
}

std::wstring DamagedCopy(const std::wstring& source, const wchar_t* type, int id, const std::wstring& target)
{
    std::string image = ReadFileBytes(source);
    const std::string resource = ReadResource(source, type, id);
    const size_t at = resource.empty() ? std::string::npos : image.find(resource);
    if (at == std::string::npos)
        return {};
    image[at + resource.size() / 2] ^= 0x20;
    return WriteFileBytes(target, image) ? target : std::wstring();
}

std::string ReadResource(const std::wstring& exe, const wchar_t* type, int id)
{
    HMODULE module = ::LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module)
        return {};
    std::string bytes;
    if (HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), type)) {
        HGLOBAL loaded = ::LoadResource(module, found);
        const DWORD size = ::SizeofResource(module, found);
        if (const void* data = loaded ? ::LockResource(loaded) : nullptr)
            bytes.assign(static_cast<const char*>(data), size);
    }
    ::FreeLibrary(module);
    return bytes;
}

}  // namespace e2e
