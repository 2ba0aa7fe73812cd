// The payload archive wherever its bytes lie: whole in the installer's
// image (resource "DATA" 148), or, for a product past what an image holds,
// split in two. Then the image keeps the archive's 32-byte start header and
// its database, and the packed streams between them lie in data files
// beside the installer ("setup-1.bin", "setup-2.bin", ...), described by
// the signed table "DIGEST" 142: the piece size, the packed size, each data
// file's name and size, and the SHA-256 of every piece of every file.
//
// Resource DIGEST 142 is UTF-8 text, one item a line:
//   pieces <piece size>
//   packed <packed size>
//   file <size> <name>            (one per data file, in order)
//   <64 hex digits>               (one per piece, file by file, in order)
// Pieces never span two files; a file's last piece may be short.
#pragma once

#include "system/file_ops.h"
#include "system/unique_handle.h"

#include <windows.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline constexpr int kDataFilesResourceId = 142;

// One data file as the table names it, and as the installer holds it.
struct DataFile {
    std::wstring name;
    uint64_t size = 0;
    uint64_t start = 0;       // where its bytes lie among the packed streams
    size_t firstPiece = 0;    // its first piece in PayloadSource::pieces
    UniqueFile file;          // empty when it could not be opened
    DWORD openError = ERROR_SUCCESS;
};

struct PayloadSource {
    // Resource DATA 148 where it lies in the installer's file: the whole
    // archive, or its start header followed by its database.
    ResourceWindow image;
    // The split layout; no data files for an archive held whole.
    uint32_t pieceSize = 0;
    uint64_t packedSize = 0;
    std::vector<DataFile> dataFiles;
    std::vector<std::array<uint8_t, 32>> pieces;
    // The folder the data files are looked for in, as the system named the
    // installer's file: for the user, never opened again by this name.
    std::wstring folder;

    explicit operator bool() const { return static_cast<bool>(image.file); }
    bool Split() const { return !dataFiles.empty(); }
    // The size of the archive the source presents.
    uint64_t ArchiveSize() const { return image.size + packedSize; }
};

// Reads the table text into source's layout (the files not opened). False
// when the text is not such a table, names a file that is not one plain
// name, or its sizes and pieces do not add up.
bool ReadDataFileTable(std::string_view text, PayloadSource* source);

// For a module (null: the running program) that carries a data files'
// table: reads it and opens each data file once, for reading with read
// sharing only, through a handle on the folder of the module's file opened
// without following a link, each a plain file of one name; a file that
// cannot be opened keeps its reason in openError. True too when the module
// carries no table (the archive is whole in the image); false when the
// table cannot be read.
bool OpenDataFiles(HMODULE module, PayloadSource* source);

// A source over [offset, offset + size) of file (not owned: duplicated).
bool PayloadSourceOfWindow(HANDLE file, uint64_t offset, uint64_t size, PayloadSource* source);

// A second owner of an open source: every handle duplicated, none opened
// again by name. False (copy then empty) when source is empty or a handle
// cannot be duplicated.
bool SharePayloadSource(const PayloadSource& source, PayloadSource* copy);

enum class DataFilesCheck {
    kPresent,  // every data file is open with the table's size (or there are none)
    kMissing,  // a data file is not in the installer's folder
    kDamaged,  // one is of another size, or no plain file of one name
};

// Checks the data files' presence and sizes, without reading them; with
// kMissing, *missing is the first missing file's name.
DataFilesCheck CheckDataFiles(const PayloadSource& source, std::wstring* missing);
