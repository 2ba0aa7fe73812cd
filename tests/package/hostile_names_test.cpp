// Archives whose entry names would leave the folder they are unpacked into,
// or name a device or a stream, run through Decode on a drive of their own:
// each is refused with its log text and nothing is written anywhere, and
// listing the archive's entries refuses it as well.
//
// hostile_names.sh makes the archives with 7zz and runs this on drive D:,
// a scratch folder: D:\hostile\names.txt lists one entry name a line (UTF-8),
// and D:\hostile\archives\<line number>.7z holds one file under that name.
#include "package/package.h"
#include "support/test_support.h"
#include "system/unique_handle.h"

#include <sstream>
#include <string>
#include <vector>

using namespace testing_support;

namespace {

const std::wstring kRoot = L"D:\\hostile";

void RecordLog(void* context, const char* text) { static_cast<std::vector<std::string>*>(context)->push_back(text); }

std::string Gbk(const std::wstring& text)
{
    const int bytes = ::WideCharToMultiByte(936, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string gbk(static_cast<size_t>(bytes), '\0');
    ::WideCharToMultiByte(936, 0, text.c_str(), -1, gbk.data(), bytes, nullptr, nullptr);
    gbk.resize(static_cast<size_t>(bytes - 1));
    return gbk;
}

std::vector<std::wstring> ReadNames()
{
    std::vector<std::wstring> names;
    std::istringstream lines(ReadBytes(kRoot + L"\\names.txt"));
    for (std::string line; std::getline(lines, line);)
        names.push_back(Utf8ToWide(line));
    return names;
}

TEST(HostileEntryNames, AreRefusedAndWriteNothingAnywhere)
{
    const std::vector<std::wstring> names = ReadNames();
    ASSERT_GE(names.size(), 10u) << "names.txt was not made";
    RemoveTree(kRoot + L"\\out");
    ASSERT_TRUE(::CreateDirectoryW((kRoot + L"\\out").c_str(), nullptr));
    wchar_t current[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, current);

    for (size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(WideToUtf8(names[i]));
        const std::wstring number = std::to_wstring(i + 1);
        const std::wstring target = kRoot + L"\\out\\" + number;
        ASSERT_TRUE(::CreateDirectoryW(target.c_str(), nullptr));
        // The whole drive the target lies on, and the top of the system drive
        // and of the current folder, which a rooted or drive-relative name
        // would reach.
        const auto driveBefore = ReadTree(L"D:");
        const auto systemBefore = Listing(L"C:");
        const auto currentBefore = Listing(current);

        CSPPackage package;
        std::vector<std::string> logs;
        package.SetCallbacks(&logs, nullptr, RecordLog);
        int32_t index = -1;
        const std::wstring archive = kRoot + L"\\archives\\" + number + L".7z";
        EXPECT_FALSE(package.Decode(archive.c_str(), target.c_str(), &index));
        // Listing the entries to check an installed folder refuses them too.
        const UniqueFile file(::CreateFileW(archive.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                            nullptr));
        LARGE_INTEGER size{};
        std::vector<ArchiveEntry> entries(1);
        ASSERT_TRUE(::GetFileSizeEx(file.get(), &size));
        EXPECT_FALSE(ListEntries(file.get(), 0, size.QuadPart, &entries));
        EXPECT_TRUE(entries.empty());

        EXPECT_EQ(logs, (std::vector<std::string>{Gbk(L"包内文件数目：1\n"), Gbk(L"包内文件名非法:" + names[i] + L"\n")}));
        EXPECT_EQ(TreeChanges(driveBefore, ReadTree(L"D:")), "");
        EXPECT_EQ(Listing(L"C:"), systemBefore);
        EXPECT_EQ(Listing(current), currentBefore);
    }
}

}  // namespace
