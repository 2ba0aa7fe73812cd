// The record of an installation: every file it put into its folder (with
// size and SHA-256), every folder the product has there, and where its
// desktop shortcut and program group went. It says which files in the
// installation folder are the product's: an upgrade, a repair and the
// uninstaller change or remove those and only those; everything else in
// the folder is the player's and stays.
//
// Records are kept outside the installation folder, which the player's
// programs may be able to change, in a folder of their own under the
// machine's program data folder that only Administrators and SYSTEM may
// write (made with CreatePrivateFolder and taken back only while it still
// is such a folder), one file per product named after its uninstall entry.
// Should someone else have made a folder of that name first, the next of
// "<name>.1" to "<name>.9" that is private serves instead.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using Sha256Digest = std::array<uint8_t, 32>;

struct InstalledFile {
    std::wstring name;  // relative to the installation folder, "\\" between levels
    uint64_t size = 0;
    Sha256Digest sha256{};
};

struct InstallRecord {
    std::wstring installDir;    // normalized
    std::wstring desktopLink;   // full path of the desktop shortcut made; may be empty
    std::wstring programGroup;  // full path of the program group made; may be empty
    std::vector<InstalledFile> files;
    std::vector<std::wstring> folders;  // relative, parents before children

    // Whether relative names one of the record's files or folders (case
    // ignored).
    bool HasFile(const std::wstring& relative) const;
    bool HasFolder(const std::wstring& relative) const;
};

// More entries than any product has, and more bytes than such a record
// takes: a record claiming more was not written by us.
inline constexpr uint32_t kMaxRecordEntries = 1u << 20;
inline constexpr size_t kMaxInstallRecordBytes = 64u << 20;

std::string EncodeInstallRecord(const InstallRecord& record);

// Reads back what EncodeInstallRecord wrote for installDir. False when the
// bytes are not such a record, name another folder, claim too much, or name
// a file or folder that is not a plain relative name inside the folder (a
// ".." level, a drive, a stream or a device name, an absolute path).
bool DecodeInstallRecord(std::string_view bytes, const std::wstring& installDir, InstallRecord* record);

// Where the record of the product whose uninstall entry is named product
// lies (or is to lie). Empty when the machine has no program data folder
// or no private place can be had there.
std::wstring InstallRecordPath(const std::wstring& product);

// Reads the record at path for installDir, through a held hold on its
// folder that must still be a private one. False when there is none or it
// does not validate: then the installation is treated as one without a
// record.
bool ReadInstallRecord(const std::wstring& path, const std::wstring& installDir, InstallRecord* record);

// Writes the record at path whole, replacing what is there in one step;
// makes its private folder when missing. False when it could not.
bool WriteInstallRecord(const std::wstring& path, const InstallRecord& record);

// Removes the record at path; true also when there was none.
bool DeleteInstallRecord(const std::wstring& path);
