// missing_data_file_test SETUP.EXE NAME FOLDER: a setup.exe whose data file
// NAME is not in FOLDER (its own) tells so in one box before Install can be
// pressed, and ends with nothing shown past it. Runs on the prefix that
// data_files.sh lays out.
#include "e2e/control_ids.h"
#include "e2e/driver.h"

#include <cstdio>
#include <string>

using namespace e2e;

int wmain(int argc, wchar_t** argv)
{
    if (argc != 4)
        return 2;
    SetupProcess setup(argv[1]);
    HWND box = setup.Started() ? setup.WaitForBox(L"错误提示") : nullptr;
    const std::wstring expected = L"找不到安装数据文件“" + std::wstring(argv[2]) +
                                  L"”。\r\n请把它与安装程序放在同一个文件夹中：\r\n" + argv[3] +
                                  L"\r\n然后再运行安装程序。";
    int failures = 0;
    const bool told = box && BoxText(box) == expected;
    std::printf("%s the box names the missing data file and its folder\n", told ? "ok  " : "FAIL");
    failures += told ? 0 : 1;
    // The data files that are there are held, read sharing only, from the
    // start: nobody writes or renames one while the installer runs.
    const std::wstring heldFile = std::wstring(argv[3]) + L"\\setup-1.bin";
    HANDLE writer = ::CreateFileW(heldFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const bool refused = writer == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_SHARING_VIOLATION &&
                         !::MoveFileW(heldFile.c_str(), (heldFile + L".moved").c_str());
    if (writer != INVALID_HANDLE_VALUE)
        ::CloseHandle(writer);
    std::printf("%s a data file cannot be written or renamed while it is held\n", refused ? "ok  " : "FAIL");
    failures += refused ? 0 : 1;
    // Buttons pressed behind the box's back move nothing on.
    setup.WaitForFrame();
    for (int press = 0; press < 3; ++press) {
        if (HWND page = setup.ShownPage()) {
            ::SendMessageW(::GetDlgItem(page, kNext), BM_CLICK, 0, 0);
            ::SendMessageW(::GetDlgItem(page, kInstall), BM_CLICK, 0, 0);
        }
    }
    const bool held = setup.ShownPageKind() != Page::kInstalling;
    std::printf("%s no installation begins behind it\n", held ? "ok  " : "FAIL");
    failures += held ? 0 : 1;
    if (box)
        AnswerBox(box, IDOK);
    const bool ended = setup.WaitForExit();
    std::printf("%s the wizard ends once it is answered\n", ended ? "ok  " : "FAIL");
    failures += ended ? 0 : 1;
    return failures ? 1 : 0;
}
