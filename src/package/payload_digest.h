// The digest make-installer records of what the installer carries, so that
// a download damaged in transit is found at start-up instead of half-way
// through the extraction.
//
// Resource "DIGEST" 140 holds 64 bytes: the SHA-256 of resource "INI" 138
// (the configuration text) and then that of resource "DATA" 148 (the
// payload archive), each over the bytes as stored.
#pragma once

#include "system/file_ops.h"

#include <windows.h>

#include <array>
#include <cstdint>
#include <string_view>

inline constexpr int kDigestResourceId = 140;
inline constexpr const wchar_t* kDigestResourceType = L"DIGEST";

using PayloadDigest = std::array<uint8_t, 64>;

// The digest of a configuration text and a payload archive.
PayloadDigest ComputePayloadDigest(std::string_view config, std::string_view payload);

enum class DigestCheck {
    Match,     // the resources are as make-installer stored them
    Mismatch,  // the recorded digest differs, or a resource it covers is missing
    Absent,    // the image records no digest (one made without make-installer's last step)
};

// Checks what module (null: the running program) carries against its
// recorded digest: its configuration text as loaded, and its payload as
// payload holds it, the window of resource "DATA" 148 in the module's file
// that the installer opened at start and reads everything through. The
// payload is read once, a piece at a time; safe on any thread. Mismatch too
// when the window cannot be read whole or is not the resource's size.
DigestCheck CheckPayloadDigest(HMODULE module, const ResourceWindow& payload);
