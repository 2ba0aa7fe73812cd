// Helpers shared by the tests: fixture and scratch folders, file contents,
// folder trees and text conversion. Tests run under Wine; the build's folders
// are reached through drive Z:.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace testing_support {

std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);
std::wstring FromCodePage(const std::string& bytes, UINT codePage);

// The folder of archives and trees that the fixture scripts made.
std::wstring FixturePath(const std::wstring& relative);
// A file or folder of the tests' own sources (tests/ in the repository).
std::wstring TestSourcePath(const std::wstring& relative);

// Deletes a file or a whole folder tree, read-only entries included.
void RemoveTree(const std::wstring& path);

bool Exists(const std::wstring& path);
std::string ReadBytes(const std::wstring& path);
void WriteBytes(const std::wstring& path, const std::string& bytes);

// Every file and folder under root, by path relative to it ("\" between
// levels): files map to their bytes, folders to "<dir>".
std::map<std::wstring, std::string> ReadTree(const std::wstring& root);
// The names at the top level of a folder (with "." and ".."), in the order
// the system lists them: to see that nothing new appeared in it.
std::vector<std::wstring> Listing(const std::wstring& folder);
// What differs between two ReadTree results, one line a path ("+" added,
// "-" gone, "~" changed), for a readable failure message; empty when equal.
std::string TreeChanges(const std::map<std::wstring, std::string>& before,
                        const std::map<std::wstring, std::string>& after);

// Polls condition every 20 ms until it holds (true) or timeoutMs passed
// (false): how tests wait for another process without sleeping blindly.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 30000);

// A fresh, empty folder for the running test, named after it, under the
// build's scratch folder. Left in place afterwards for inspection.
// The access list of the file or folder at path as the system reads it
// back, in SDDL; empty when it cannot be read. Under Wine it is derived
// from the Unix permissions: others' read and execute read back as an
// entry for Everyone (WD).
std::wstring AccessListOf(const std::wstring& path);

// Whether that list lets others (Everyone) in at all.
inline bool OthersMayEnter(const std::wstring& path) { return AccessListOf(path).find(L";;;WD)") != std::wstring::npos; }

class ScratchDir {
public:
    ScratchDir();
    const std::wstring& path() const { return path_; }
    std::wstring Join(const std::wstring& name) const { return path_ + L"\\" + name; }

private:
    std::wstring path_;
};

// Points this process's temporary directory at folder while it lives, so
// the run's folder and the files in it are the test's own.
class TempRedirect {
public:
    explicit TempRedirect(const std::wstring& folder)
    {
        had_ = ::GetEnvironmentVariableW(L"TMP", saved_, MAX_PATH) != 0;
        ::SetEnvironmentVariableW(L"TMP", folder.c_str());
    }
    ~TempRedirect() { ::SetEnvironmentVariableW(L"TMP", had_ ? saved_ : nullptr); }
    TempRedirect(const TempRedirect&) = delete;
    TempRedirect& operator=(const TempRedirect&) = delete;

private:
    wchar_t saved_[MAX_PATH] = {};
    bool had_ = false;
};

}  // namespace testing_support
