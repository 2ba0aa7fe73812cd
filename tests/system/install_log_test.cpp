// The log a program's command line asks for, started in a temporary folder
// of the test's own.
#include "support/test_support.h"
#include "system/install_log.h"

using namespace testing_support;

namespace {

// Without a path the log is new in the temporary folder, named after the
// product and the task, or after the program without a product; it opens
// with the program and the run's mode.
TEST(InstallLogTest, StartedLogIsNamedAfterTheProductAndTellsTheMode)
{
    const ScratchDir scratch;
    TempRedirect redirect(scratch.path());
    const struct {
        const wchar_t *program, *task, *product;
        bool silent;
        const wchar_t* name;
        const char* mode;
    } cases[] = {
        {L"setup.exe", L"setup", L"Quenlo:棋牌", true, L"Quenlo_棋牌-setup-", "mode: silent (/S)"},
        {L"uninst.exe", L"uninstall", L"", false, L"uninst-", "mode: asking the player"},
    };
    for (const auto& c : cases) {
        StartInstallLog(L"", c.program, c.task, c.product, L"1.0", c.silent, L"asking the player");
        const std::wstring path = InstallLogPath();
        EXPECT_TRUE(path.substr(path.rfind(L'\\') + 1).starts_with(c.name)) << WideToUtf8(path);
        const std::string log = ReadBytes(path);
        EXPECT_NE(log.find(WideToUtf8(c.program) + " log"), std::string::npos) << log;
        EXPECT_NE(log.find(c.mode), std::string::npos) << log;
    }
}

}  // namespace
