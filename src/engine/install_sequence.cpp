// The worker's sequence: the payload unpacked from the installer's own file
// into the staging folder, the earlier installation replaced, shortcuts and the
// uninstall entry made. Each step stops the run at its first failure; the
// undo is the rollback's, after the failure message.
#include "engine/install_engine.h"
#include "engine/install_folder.h"

#include "config/config.h"
#include "system/file_ops.h"
#include "system/trace.h"

namespace {

constexpr const wchar_t* kErrorCaption = L"错误提示";
constexpr const wchar_t* kForeignFolderText = L"安装目录中已有其他文件，请选择其他安装目录！";
constexpr const wchar_t* kInUseText = L"覆盖安装文件出错！源程序正在运行， 请关闭后重试！";
// Marks a staging folder as this installer's own, so that a later run may
// empty and reuse it; removed before the folder becomes the installation.
constexpr const wchar_t* kStagingMarker = L"~setup-staging.tag";

}  // namespace

bool InstallEngine::ClaimStagingFolder(const std::wstring& stagingDir)
{
    const std::wstring marker = JoinPath(stagingDir, kStagingMarker);
    switch (ClassifyInstallFolder(stagingDir, ReadSetting(kKeyExe))) {
    case FolderState::Absent:
        break;
    case FolderState::Empty:
        stagingOwned_ = true;
        break;
    case FolderState::EarlierInstall:
    case FolderState::Foreign:
        // A leftover of an earlier run of this installer is emptied; any other
        // folder of that name is not ours to delete, now or in the rollback.
        if (::GetFileAttributesW(marker.c_str()) == INVALID_FILE_ATTRIBUTES)
            return false;
        stagingOwned_ = true;
        if (!services_->DeletePath(stagingDir.c_str()))
            return false;
        break;
    }
    if (!services_->CreateFolderTree(stagingDir.c_str()))
        return false;
    stagingOwned_ = true;
    const UniqueFile tag(
        ::CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr));
    return static_cast<bool>(tag);
}

bool InstallEngine::RunInstall(int32_t* stepsDone)
{
    // 1. The installation folder and the staging folder beside it.
    const std::wstring installDir = NormalizeInstallDir(ReadSetting(kKeySetupDir));
    if (installDir.empty() || IsProtectedFolder(installDir))
        return false;
    if (ClassifyInstallFolder(installDir, ReadSetting(kKeyExe)) == FolderState::Foreign) {
        ::MessageBoxW(page_, kForeignFolderText, kErrorCaption, MB_ICONHAND);
        return false;
    }
    const std::wstring stagingDir = StagingFolderPath(installDir);
    if (!ClaimStagingFolder(stagingDir))
        return false;
    InstallTrace(L"创建临时文件\r\n");

    // 2. The payload is read where it lies in the installer's own file, which
    // the engine has held since start-up: no copy in the temporary folder
    // that another program could swap before it is unpacked.
    if (!payload_.file)
        return false;
    InstallTrace(L"将资源写入临时文件 temp.7z\r\n");

    // 3.
    SetPageText(IDC_INSTALL_STATUS, L"正在准备安装文件...");

    // 4. Unpacking; the package shows each entry and stops on a cancel.
    const bool unpacked = services_->Decode(package_, payload_, stagingDir.c_str(), stepsDone);
    FlushExtractProgress();
    if (!unpacked)
        return false;
    InstallTrace(L"解压 temp.7z 到 temp 文件夹\r\n");

    // From here on the worker waits at each step while the cancel question is open.
    WaitWhilePaused();
    // 5. There is no copy to delete.
    InstallTrace(L"删除temp.7z\r\n");

    // 6 and 7. The earlier installation out, the new one in.
    WaitWhilePaused();
    if (!ReplacePreviousVersion(installDir, stagingDir))
        return false;

    // 8.
    const std::wstring mainProgram = ReadSetting(kKeyExe);
    const std::wstring mainLink = ReadSetting(kKeyExeLink);
    const std::wstring repairProgram = ReadSetting(kKeyRepairExe);
    const std::wstring repairLink = ReadSetting(kKeyRepairExeLink);
    const std::wstring repairArguments = ReadSetting(kKeyRepairExeCmd);
    const std::wstring mainPath = JoinPath(installDir, mainProgram);
    const std::wstring repairPath = JoinPath(installDir, repairProgram);

    // 9.
    WaitWhilePaused();
    ShowStep(L"正在创建桌面快捷方式...", L"");
    if (!services_->CreateDesktopShortcut(mainPath.c_str(), mainLink.c_str(), nullptr))
        return false;
    AdvanceProgress();
    InstallTrace(L"创建桌面快捷方式\r\n");

    // 10.
    WaitWhilePaused();
    ShowStep(L"正在创建程序组...", L"");
    const std::wstring group = ReadSetting(kKeyDisplayName);
    if (!services_->CreateProgramGroup(page_, group.c_str()))
        return false;
    AdvanceProgress();
    InstallTrace(L"正在创建程序组\r\n");

    // 11.
    WaitWhilePaused();
    ShowStep(L"正在创建程序组快捷方式...", mainLink.c_str());
    if (!services_->CreateGroupShortcut(page_, mainPath.c_str(), group.c_str(), mainLink.c_str(), nullptr))
        return false;
    InstallTrace(L"正在创建程序组快捷方式1\r\n");
    AdvanceProgress();

    // 12. The detail shows the repair program's file name, not its shortcut's.
    WaitWhilePaused();
    ShowStep(L"正在创建程序组快捷方式...", repairProgram.c_str());
    if (!services_->CreateGroupShortcut(page_, repairPath.c_str(), group.c_str(), repairLink.c_str(),
                                        repairArguments.c_str()))
        return false;
    AdvanceProgress();
    InstallTrace(L"正在创建程序组快捷方式2\r\n");

    // 13.
    WaitWhilePaused();
    ShowStep(L"正在写注册信息...", L"");
    if (!services_->RegisterUninstall())
        return false;
    InstallTrace(L"写注册信息成功\r\n");
    AdvanceProgress();
    return true;
}

bool InstallEngine::ReplacePreviousVersion(const std::wstring& installDir, const std::wstring& stagingDir)
{
    // 6. The earlier installation is moved aside, not deleted, until the new
    // one stands in its place: a file in use or a refused rename then leaves
    // it whole.
    std::wstring asideDir;
    if (IsDirectory(installDir.c_str())) {
        const std::wstring userFile = ReadSetting(kKeyUserDataFile);
        if (!userFile.empty()) {
            const std::wstring oldUserFile = JoinPath(installDir, userFile);
            if (FileExists(oldUserFile.c_str())) {
                const std::wstring newUserFile = JoinPath(stagingDir, userFile);
                if (!services_->CopyPath(newUserFile.c_str(), oldUserFile.c_str()))
                    return false;
            }
        }
        ShowStep(L"正在删除旧版本文件...", installDir.c_str());
        asideDir = AsideFolderPath(installDir);
        if (HasFileInUse(installDir) || !services_->RenamePath(asideDir.c_str(), installDir.c_str())) {
            ::MessageBoxW(page_, kInUseText, kErrorCaption, MB_ICONHAND);
            return false;
        }
    }
    AdvanceProgress();
    InstallTrace(L"删除旧版本文件\r\n");

    // 7. The staging folder becomes the installation folder.
    WaitWhilePaused();
    ShowStep(L"正在覆盖旧版本文件...", installDir.c_str());
    const std::wstring marker = JoinPath(stagingDir, kStagingMarker);
    ::SetFileAttributesW(marker.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(marker.c_str());
    if (!services_->RenamePath(installDir.c_str(), stagingDir.c_str())) {
        if (!asideDir.empty())
            services_->RenamePath(installDir.c_str(), asideDir.c_str());
        ::SendMessageW(page_, WM_CLOSE, 0, 0);
        return false;
    }
    stagingOwned_ = false;
    if (!asideDir.empty())
        services_->DeletePath(asideDir.c_str());
    AdvanceProgress();
    InstallTrace(L"重命名文件夹\r\n");
    return true;
}
