// branded_install_test SETUP.EXE: a setup.exe that make-installer built for a
// product of the test's own installs that product under Wine: its files in
// the default folder, its uninstall entry, its shortcuts, its texts on the
// pages. Runs on the prefix that branded_install.sh lays out (drive D:).
#include "e2e/control_ids.h"
#include "e2e/driver.h"

#include <cstdio>
#include <string>

using namespace e2e;

namespace {

const std::wstring kName = L"星河麻将";
const std::wstring kFolder = L"D:\\Program Files\\StarMahjong";

int checks = 0;
int failures = 0;

void Check(bool ok, const char* what)
{
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
    ++checks;
    failures += ok ? 0 : 1;
}

std::wstring Uninstall(const wchar_t* value)
{
    wchar_t data[520] = {};
    DWORD size = sizeof(data);
    const std::wstring key = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + kName;
    ::RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), value, RRF_RT_REG_SZ, nullptr, data, &size);
    return data;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2)
        return 2;
    SetupProcess setup(argv[1]);
    HWND welcome = setup.WaitForFrame() ? setup.WaitForPage(Page::kWelcome) : nullptr;
    Check(welcome != nullptr, "the welcome page is shown");
    if (!welcome)
        return 1;
    Check(ItemText(welcome, IDC_WELCOME_TITLE_NAME) == kName, "the welcome page names the product");
    Click(welcome, kNext);
    HWND destination = setup.WaitForPage(Page::kDestination);
    Check(destination && ItemText(destination, kFolderEdit) == kFolder, "the default folder is the product's");
    Check(destination && ItemText(destination, IDC_DEST_SPACE) == L"至少需要  4 MB 的可用磁盘空间",
          "the space needed is the product folder's, rounded up");
    Click(destination, kNext);
    HWND ready = setup.WaitForPage(Page::kReady);
    Click(ready, kInstall);
    HWND finish = setup.WaitForPage(Page::kFinish, 120000);
    Check(finish != nullptr, "the installation reaches the finish page");
    if (!finish)
        return 1;

    Check(ReadFileBytes(kFolder + L"\\bin\\Game.exe").size() == 3 * 1024 * 1024 + 5, "the main program is in place");
    Check(ReadFileBytes(kFolder + L"\\data\\棋盘 1.dat") == std::string(70000, 'x'), "the data file is in place");
    Check(Exists(kFolder + L"\\tools\\Uninstall.exe"), "the uninstaller is in place");
    Check(Uninstall(L"DisplayName") == kName && Uninstall(L"Publisher") == L"星河游戏" &&
              Uninstall(L"DisplayVersion") == L"3.2.0",
          "the uninstall entry carries the product's names");
    Check(Uninstall(L"UninstallString") == L"\"" + kFolder + L"\\tools\\Uninstall.exe\"",
          "the entry points at its uninstaller, quoted");
    Check(Exists(SpecialFolder(0x10) + L"\\" + kName + L".lnk"), "the desktop shortcut exists");
    Check(Exists(SpecialFolder(0x02) + L"\\" + kName + L"\\修复星河麻将.lnk"), "the repair shortcut exists");

    ::SendMessageW(::GetDlgItem(finish, kRunNow), BM_SETCHECK, BST_UNCHECKED, 0);
    Click(finish, kFinishButton);
    Check(setup.WaitForExit(), "the wizard ends");
    std::printf("%d passed, %d failed\n", checks - failures, failures);
    return failures ? 1 : 0;
}
