// The installation's record as it is written and read back: whatever a
// record holds that a run of ours could not have written makes it count as
// missing, so nothing it names is ever touched.
#include "system/install_record.h"

#include "system/byte_record.h"

#include <gtest/gtest.h>

namespace {

const std::wstring kFolder = L"D:\\Games\\Tovani";

InstallRecord Sample()
{
    InstallRecord record;
    record.installDir = kFolder;
    record.desktopLink = L"C:\\users\\player\\Desktop\\Tovani.lnk";
    record.programGroup = L"C:\\users\\player\\Start Menu\\Programs\\Tovani";
    record.files = {{L"Tovani.exe", 5ull << 32, {1, 2, 3}}, {L"data\\牌桌\\规则.txt", 12, {}}};
    record.folders = {L"data", L"data\\牌桌"};
    return record;
}

TEST(InstallRecord, ReadsBackOnlyWhatARunCouldHaveWritten)
{
    InstallRecord read;
    ASSERT_TRUE(DecodeInstallRecord(EncodeInstallRecord(Sample()), L"d:\\games\\TOVANI", &read));
    EXPECT_EQ(read.files.size(), 2u);
    EXPECT_EQ(read.files[0].size, 5ull << 32);
    EXPECT_EQ(read.files[0].sha256, Sample().files[0].sha256);
    EXPECT_TRUE(read.HasFile(L"DATA\\牌桌\\规则.txt"));
    EXPECT_TRUE(read.HasFolder(L"data\\牌桌"));
    EXPECT_EQ(read.desktopLink, Sample().desktopLink);

    const std::wstring badNames[] = {L"..\\outside.txt", L"data\\..\\..\\outside.txt", L"C:\\Windows\\win.ini",
                                     L"\\Windows\\win.ini", L"data\\NUL", L"CON.txt", L"Tovani.exe:stream",
                                     L"data/levels.dat", L"", L"data\\\\x"};
    for (const std::wstring& name : badNames) {
        SCOPED_TRACE(std::string(name.begin(), name.end()));
        InstallRecord file = Sample();
        file.files.push_back({name, 1, {}});
        EXPECT_FALSE(DecodeInstallRecord(EncodeInstallRecord(file), kFolder, &read));
        InstallRecord folder = Sample();
        folder.folders.push_back(name);
        EXPECT_FALSE(DecodeInstallRecord(EncodeInstallRecord(folder), kFolder, &read));
        EXPECT_TRUE(read.files.empty());
    }

    const std::string whole = EncodeInstallRecord(Sample());
    // Another folder's record, a cut one, one with bytes after its end.
    EXPECT_FALSE(DecodeInstallRecord(whole, L"D:\\Games\\Other", &read));
    EXPECT_FALSE(DecodeInstallRecord(whole.substr(0, whole.size() - 1), kFolder, &read));
    EXPECT_FALSE(DecodeInstallRecord(whole + "x", kFolder, &read));
    // More entries than any product has, claimed by a short record.
    std::string huge;
    PutU32(huge, 0x43455249);
    PutU32(huge, 1);
    PutText(huge, kFolder);
    PutText(huge, L"");
    PutText(huge, L"");
    PutU32(huge, kMaxRecordEntries + 1);
    EXPECT_FALSE(DecodeInstallRecord(huge, kFolder, &read));
}

}  // namespace
