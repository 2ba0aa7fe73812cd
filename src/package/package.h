// CSPPackage: unpacks the payload's 7z archive into a folder, entry by entry,
// reporting each entry and stopping between entries when asked to.
#pragma once

#include "package/payload_source.h"
#include "system/folder_handles.h"
#include "system/paths.h"
#include "system/unique_handle.h"

#include <windows.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// What the package reports for each entry it begins. The name is the entry's
// path inside the archive with "/" between its levels, as the archive holds
// it (UTF-16, so that it shows whole on a system of any code page), cut to
// 259 characters; characters after its terminator are zero. A big entry
// (one of a streamed block) is reported again as its bytes are written,
// with the same index and more bytes done.
struct ExtractProgress {
    wchar_t name[260];
    uint32_t index;
    uint32_t total;
    // The payload's unpacked bytes: those before this point (every entry
    // before this one, kept or written, and what is written of this one),
    // and all of them.
    uint64_t bytesDone;
    uint64_t bytesTotal;
};

using PackageLogFn = void (*)(void* context, const char* text);
using PackageProgressFn = void (*)(void* context, ExtractProgress progress);
// Called on the decoding thread before each entry, before the run flag is
// read: the owner may hold the worker here while it asks the user something.
using PackageGateFn = void (*)(void* context);

// One entry of an archive as its database describes it.
struct ArchiveEntry {
    std::wstring name;  // "\\" between levels, as on disk
    bool isFolder = false;
    uint64_t size = 0;
    bool hasCrc = false;  // entries without data (empty files, folders) have none
    uint32_t crc = 0;
    // From the installer's signed table of its entries (make-installer's),
    // never from the archive: the archive's CRC-32 anyone can forge.
    bool hasSha256 = false;
    std::array<uint8_t, 32> sha256{};
};

class CSPPackage {
public:
    CSPPackage();
    ~CSPPackage();
    CSPPackage(const CSPPackage&) = delete;
    CSPPackage& operator=(const CSPPackage&) = delete;

    // Stores the context and both functions (either may be null). A null
    // context is refused: false, and nothing changes.
    bool SetCallbacks(void* context, PackageProgressFn progressFn, PackageLogFn logFn);
    void SetGate(PackageGateFn gateFn) { gateFn_ = gateFn; }
    // The access lists new files and folders are made with (null: what
    // they inherit from the folder they are made in); they must outlive
    // every Decode.
    void SetNewEntryAccess(PSECURITY_DESCRIPTOR files, PSECURITY_DESCRIPTOR folders)
    {
        newFileAccess_ = files;
        newFolderAccess_ = folders;
    }

    // Unpacks every entry of the archive that lies in [offset, offset + size)
    // of file (open for reading; not closed here) into target, a folder the
    // caller holds. Every folder and file is made through a handle on the
    // folder that holds it, opened without following a link and checked to
    // be that entry (as OpenChild checks); files are always made new, never
    // opened where something of that name exists, and their attributes and
    // times are set through their own handles, so that nothing replaced by
    // a link meanwhile is written through. The file is read at explicit
    // offsets only, so the handle may be shared. Stores each entry's index
    // into *currentIndex as it begins the entry. True when every entry was
    // written; false for a missing target, when the archive cannot be read,
    // an entry cannot be decoded, has a name that would leave the folder, or
    // cannot be written, and on stop. What was written before a failure
    // stays on disk. The archive's next solid blocks are decoded ahead on
    // threads of the call's own, a bounded number of blocks in memory at
    // once; every callback still comes from the calling thread, in archive
    // order, and no thread outlives the call.
    //
    // inPlace marks file entries left out (by index in archive order, as
    // ListEntries gives them; an index past its end is not marked): they are
    // neither written nor checked, and a solid block whose file entries are
    // all marked is neither read nor decoded. A block that is needed is
    // decoded whole, marked entries and all. Every entry is still reported,
    // counted in *currentIndex and passed through the gate and the run flag,
    // in archive order; folder entries are made whether marked or not. A
    // null inPlace marks nothing.
    //
    // A solid block too large to hold (kStreamedBlockThreshold) whose coder
    // can be decoded in pieces is not decoded ahead: it is decoded as its
    // entries are written, a piece at a time, each entry's CRC-32 checked
    // at its end and the block's end after its last; marked entries in it
    // are decoded and dropped while a later entry of the block needs them
    // passed. Within such an entry the gate and the run flag are passed
    // between pieces, and a stop leaves the entry part written.
    bool Decode(HANDLE file, uint64_t offset, uint64_t size, const HeldFolder& target, int32_t* currentIndex,
                const std::vector<bool>* inPlace);
    // The same for the archive that source presents (payload_source.h):
    // a piece of a data file that does not match its table fails the entry
    // whose block needs it, before anything of that block is written.
    bool Decode(const PayloadSource& source, const HeldFolder& target, int32_t* currentIndex,
                const std::vector<bool>* inPlace);
    // The same into the folder at targetFolder (a full path without a
    // trailing backslash), opened without following a link at its last
    // component and held for the call; empty or missing fails.
    bool Decode(HANDLE file, uint64_t offset, uint64_t size, const wchar_t* targetFolder, int32_t* currentIndex,
                const std::vector<bool>* inPlace = nullptr);
    // The same for the whole archive file at archivePath, opened for reading
    // with read sharing only, so that nobody changes it while it is read.
    bool Decode(const wchar_t* archivePath, const wchar_t* targetFolder, int32_t* currentIndex);

    // 1 goes on, 0 stops before the next entry. Only the owner's cancel
    // clears it, and nothing sets it back.
    std::atomic<int32_t>& RunFlag() { return runFlag_; }

private:
    class Extraction;
    friend bool ListEntries(const PayloadSource& source, std::vector<ArchiveEntry>* entries);
    friend bool MakeEntryDigestTable(const PayloadSource& source, std::string* table);

    void Log(const char* text) const;

    std::atomic<int32_t> runFlag_{1};
    void* context_ = nullptr;
    PackageLogFn logFn_ = nullptr;
    PackageProgressFn progressFn_ = nullptr;
    PackageGateFn gateFn_ = nullptr;
    PSECURITY_DESCRIPTOR newFileAccess_ = nullptr;
    PSECURITY_DESCRIPTOR newFolderAccess_ = nullptr;
};

// The entries of the archive in [offset, offset + size) of file, in archive
// order, read from its database alone (no data is decoded). False, with
// entries empty, when the database cannot be read or an entry's name is one
// that Decode refuses (IsSafeEntryName).
bool ListEntries(HANDLE file, uint64_t offset, uint64_t size, std::vector<ArchiveEntry>* entries);
bool ListEntries(const PayloadSource& source, std::vector<ArchiveEntry>* entries);

// The same, each entry given the SHA-256 that digestTable (resource DIGEST
// 141 as make-installer writes it: one line "<64 hex digits>  <name>" per
// file entry, name in UTF-8 with "/" between levels) records for its name;
// an entry the table does not name, or names twice, has none.
bool ListEntries(HANDLE file, uint64_t offset, uint64_t size, std::string_view digestTable,
                 std::vector<ArchiveEntry>* entries);
bool ListEntries(const PayloadSource& source, std::string_view digestTable, std::vector<ArchiveEntry>* entries);

// The table ListEntries reads, made from what the archive in [offset, offset
// + size) of file holds: every file entry decoded and summed, in archive
// order. For tools and tests that build an installer; the installer itself
// trusts only the table it carries. False when the archive cannot be read
// or decoded, or names an entry that Decode refuses.
bool MakeEntryDigestTable(HANDLE file, uint64_t offset, uint64_t size, std::string* table);
bool MakeEntryDigestTable(const PayloadSource& source, std::string* table);

// For each entry, whether folder\name already holds exactly its bytes: a plain
// file of one link and of the entry's size whose own bytes have the entry's
// SHA-256 (the signed table's). Folder entries, entries without a SHA-256,
// and anything that is not a plain file of
// one name reached through plain folders (a link anywhere on the way, a hard
// link, a folder where a file is expected, a file that cannot be opened for
// reading or is in use for writing) are false. Safe over a folder that others can write: each
// folder on the way is opened once, without following links, and held; each
// file is opened through its held folder and read through that one handle.
// stop, when not null, is read between files: once it is 0 the remaining
// entries are false. The answer always has one value per entry.
std::vector<bool> FindEntriesInPlace(const std::wstring& folder, const std::vector<ArchiveEntry>& entries,
                                     const std::atomic<int32_t>* stop);
// The same, every file found in place left held in *holds, open without
// write or delete sharing: until the holds close nobody writes, replaces,
// renames or deletes a file the answer vouched for.
std::vector<bool> FindEntriesInPlace(const std::wstring& folder, const std::vector<ArchiveEntry>& entries,
                                     const std::atomic<int32_t>* stop, std::vector<UniqueFile>* holds);
