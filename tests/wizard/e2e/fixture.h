// What the wizard's end-to-end test suites share: a thread that can use the
// shell (links, the folder dialog), a clean start and a started wizard.
#pragma once

#include "e2e/driver.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <memory>
#include <string>
#include <vector>

namespace e2e {

// The sample product's name and the folder the wizard offers for it.
inline const std::wstring kDisplayName = L"Quenlo棋牌";
inline const std::wstring kDefaultInstallDir = L"D:\\Program Files\\Tovani";

class WizardTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }

    // Removes what earlier runs left (the wizards' temporary folders and
    // configuration file, installDir and its staging folder) and makes the
    // work folder anew, empty; false when it cannot.
    static bool ClearRuns(const std::wstring& installDir)
    {
        for (const std::wstring& folder : RunFolders())
            RemoveTree(folder);
        ::DeleteFileW((TempFolder() + L"incfg.ini").c_str());
        for (const auto& folder : {installDir, installDir + L".temp", std::wstring(kWorkFolder)})
            RemoveTree(folder);
        ::CreateDirectoryW(L"D:\\e2e", nullptr);
        return ::CreateDirectoryW(kWorkFolder, nullptr);
    }

    // Starts a wizard and waits for its welcome page.
    static std::unique_ptr<SetupProcess> Start(const std::wstring& exe,
                                               const std::vector<std::wstring>& environment = {})
    {
        auto wizard = std::make_unique<SetupProcess>(exe, environment);
        EXPECT_TRUE(wizard->Started());
        EXPECT_NE(wizard->WaitForFrame(), nullptr);
        EXPECT_NE(wizard->WaitForPage(Page::kWelcome), nullptr);
        return wizard;
    }
};

}  // namespace e2e
