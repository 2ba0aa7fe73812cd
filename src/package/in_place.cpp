// FindEntriesInPlace: which of an archive's files a folder already holds.
#include "package/package.h"

#include "package/payload_digest.h"
#include "package/sdk.h"

#include "system/folder_handles.h"
#include "system/held_tree.h"
#include "system/paths.h"
#include "system/unique_handle.h"

#include <process.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace {

// Files are read in pieces this large: a game's files are mostly small, so
// most take one read, and its few large ones take few.
constexpr size_t kReadSize = 1u << 20;

// One thread opens the next file while the other reads or sums one. Under
// Wine the server takes the opens one at a time, so there two threads are
// no faster than one (about 0.6 s for 200 MB in 5,000 files on a RAM
// drive, either way); Windows opens files on several processors at once.
constexpr unsigned kCheckers = 2;

// Held for the whole check: nobody renames or deletes a folder on the way
// while its files are read, so every answer is about the folder asked for.
constexpr DWORD kFolderShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

// True when name in folder is a plain file of one name, of the entry's size,
// whose bytes have the entry's SHA-256; then *held keeps it open. Opened
// without write or delete sharing, so nobody changes, replaces or renames it
// while it is read, nor after, while the hold lasts; read through that
// handle only.
bool HoldsEntry(const HeldFolder& folder, const std::wstring& name, const ArchiveEntry& entry,
                std::vector<Byte>& buffer, UniqueFile* held)
{
    UniqueFile file;
    if (!entry.hasSha256 || !OpenChild(folder, name, FILE_READ_DATA, FILE_SHARE_READ, kFileOpen,
                                       kNonDirectoryFile | kSequentialOnly, &file))
        return false;
    // A file with a second name may be one that the folder's users should
    // not reach, linked in: kept, it would stay for whatever comes next.
    FILE_ATTRIBUTE_TAG_INFO tag{};
    FILE_STANDARD_INFO standard{};
    if (!::GetFileInformationByHandleEx(file.get(), FileAttributeTagInfo, &tag, sizeof(tag)) ||
        (tag.FileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ||
        !::GetFileInformationByHandleEx(file.get(), FileStandardInfo, &standard, sizeof(standard)) ||
        standard.NumberOfLinks != 1 || static_cast<uint64_t>(standard.EndOfFile.QuadPart) != entry.size)
        return false;
    // Nobody can write the file while it is held, so its size stays: no read
    // past it, to find its end, is needed.
    CSha256 sum;
    Sha256_Init(&sum);
    for (uint64_t left = entry.size; left > 0;) {
        DWORD read = 0;
        const DWORD piece = static_cast<DWORD>(std::min<uint64_t>(left, buffer.size()));
        if (!::ReadFile(file.get(), buffer.data(), piece, &read, nullptr) || read == 0)
            return false;
        left -= read;
        Sha256_Update(&sum, buffer.data(), read);
    }
    Byte digest[SHA256_DIGEST_SIZE];
    Sha256_Final(&sum, digest);
    if (std::memcmp(digest, entry.sha256.data(), sizeof(digest)) != 0)
        return false;
    *held = std::move(file);
    return true;
}

struct Check {
    const std::vector<ArchiveEntry>& entries;
    std::vector<const HeldFolder*> folderOf;  // per entry; null: not a candidate
    std::vector<char> answers;                // not vector<bool>: threads write neighbours
    std::vector<UniqueFile> held;             // per entry, its hold when it is in place
    const std::atomic<int32_t>* stop;
    volatile LONG next = 0;

    void Run()
    {
        std::vector<Byte> buffer(kReadSize);
        for (;;) {
            const LONG i = ::InterlockedIncrement(&next) - 1;
            if (static_cast<size_t>(i) >= entries.size() || (stop && stop->load() == 0))
                return;
            if (!folderOf[i])
                continue;
            answers[i] = HoldsEntry(*folderOf[i], NameOf(entries[i].name), entries[i], buffer, &held[i]);
        }
    }

    static unsigned __stdcall Thread(void* check)
    {
        try {
            static_cast<Check*>(check)->Run();
        } catch (...) {
            // Nothing unwinds out of the thread; the entries it would have
            // taken stay false, or the caller's thread takes them.
        }
        return 0;
    }
};

}  // namespace

std::vector<bool> FindEntriesInPlace(const std::wstring& folder, const std::vector<ArchiveEntry>& entries,
                                     const std::atomic<int32_t>* stop)
{
    std::vector<UniqueFile> holds;
    return FindEntriesInPlace(folder, entries, stop, &holds);
}

std::vector<bool> FindEntriesInPlace(const std::wstring& folder, const std::vector<ArchiveEntry>& entries,
                                     const std::atomic<int32_t>* stop, std::vector<UniqueFile>* holds)
{
    std::vector<bool> inPlace(entries.size(), false);
    holds->clear();
    try {
        PrepareSha256();
        Check check{entries, std::vector<const HeldFolder*>(entries.size(), nullptr),
                    std::vector<char>(entries.size(), 0), std::vector<UniqueFile>(entries.size()), stop};
        // Every folder on the way to the entries, opened once and held to
        // the end.
        HeldFolder root;
        OpenFolderNoFollow(folder, kFolderShare, &root);
        HeldTree tree(root, kFolderShare);
        for (size_t i = 0; i < entries.size(); ++i) {
            const ArchiveEntry& entry = entries[i];
            if (entry.isFolder || !entry.hasSha256 || !IsSafeEntryName(entry.name.c_str()))
                continue;
            check.folderOf[i] = tree.Folder(ParentOf(entry.name));
        }

        std::vector<UniqueHandle> threads;
        threads.reserve(kCheckers);
        for (unsigned t = 1; t < kCheckers; ++t) {
            const uintptr_t thread = ::_beginthreadex(nullptr, 0, Check::Thread, &check, 0, nullptr);
            if (thread)
                threads.emplace_back(reinterpret_cast<HANDLE>(thread));
        }
        // The calling thread checks too; without other threads it checks all.
        Check::Thread(&check);
        for (auto& thread : threads)
            ::WaitForSingleObject(thread.get(), INFINITE);

        for (size_t i = 0; i < entries.size(); ++i) {
            inPlace[i] = check.answers[i] != 0;
            if (inPlace[i])
                holds->push_back(std::move(check.held[i]));
        }
    } catch (const std::bad_alloc&) {
        inPlace.assign(entries.size(), false);
        holds->clear();
    }
    return inPlace;
}
