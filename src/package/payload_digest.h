// The digest make-installer records of what the installer carries, so that
// a download damaged in transit is found at start-up instead of half-way
// through the extraction.
//
// Resource "DIGEST" 140 holds 96 bytes: the SHA-256 of resource "INI" 138
// (the configuration text), then that of resource "DATA" 148 (the payload
// archive), then that of resource "DIGEST" 141 (the SHA-256 of every file
// entry of the archive, by name, that an upgrade compares the files it keeps
// with), each over the bytes as stored. A table changed in the image then
// fails the check at start as a damaged payload does.
//
// A payload split into data files (payload_source.h) adds resource "DIGEST"
// 142, their table, and DIGEST 140 then holds 128 bytes: the three digests
// above (DATA 148 being the start header and the database as stored) and
// the SHA-256 of DIGEST 142.
#pragma once

#include "package/payload_source.h"

#include <windows.h>

#include <array>
#include <cstdint>
#include <string_view>

inline constexpr int kDigestResourceId = 140;
inline constexpr int kEntryDigestsResourceId = 141;
inline constexpr const wchar_t* kDigestResourceType = L"DIGEST";

using PayloadDigest = std::array<uint8_t, 96>;
// DIGEST 140 of a payload with data files.
using SplitPayloadDigest = std::array<uint8_t, 128>;

// The digest of a configuration text, a payload archive and its entries' table.
PayloadDigest ComputePayloadDigest(std::string_view config, std::string_view payload, std::string_view entryDigests);

// The table of the archive's entries' SHA-256 that module (null: the running
// program) carries, as loaded; empty when it carries none. Vouched for only
// once CheckPayloadDigest has matched.
std::string_view EntryDigestTable(HMODULE module);

// Sets the SDK's SHA-256 code up for this processor; once, whoever calls first.
void PrepareSha256();

enum class DigestCheck {
    Match,     // the resources are as make-installer stored them
    Mismatch,  // the recorded digest differs, or a resource it covers (the table too) is missing
    Absent,    // the image records no digest (one made without make-installer's last step)
};

// Checks what module (null: the running program) carries against its
// recorded digest: its configuration text and entries' table as loaded, and its payload as
// payload holds it, the window of resource "DATA" 148 in the module's file
// that the installer opened at start and reads everything through. The
// payload is read once, a piece at a time; safe on any thread. Mismatch too
// when the window cannot be read whole or is not the resource's size, and
// when the data files' table is there and payload was not opened from it,
// or the other way round. The data files themselves are not read here
// (CheckDataFiles, and each piece as it is unpacked).
DigestCheck CheckPayloadDigest(HMODULE module, const PayloadSource& payload);
