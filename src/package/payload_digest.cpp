#include "package/payload_digest.h"

#include "package/sdk.h"

#include <cstring>
#include <mutex>

namespace {

constexpr int kConfigId = 138;
constexpr int kPayloadId = 148;

// The bytes of a resource where the loader mapped them; false when absent.
bool FindBytes(HMODULE module, const wchar_t* type, int id, std::string_view* bytes)
{
    HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (!found)
        return false;
    HGLOBAL loaded = ::LoadResource(module, found);
    const void* data = loaded ? ::LockResource(loaded) : nullptr;
    if (!data)
        return false;
    *bytes = std::string_view(static_cast<const char*>(data), ::SizeofResource(module, found));
    return true;
}

void Sha256Of(std::string_view bytes, uint8_t* out)
{
    PrepareSha256();
    CSha256 state;
    Sha256_Init(&state);
    Sha256_Update(&state, reinterpret_cast<const Byte*>(bytes.data()), bytes.size());
    Sha256_Final(&state, out);
}

}  // namespace

void PrepareSha256()
{
    static std::once_flag prepared;
    std::call_once(prepared, [] { Sha256Prepare(); });
}

PayloadDigest ComputePayloadDigest(std::string_view config, std::string_view payload, std::string_view entryDigests)
{
    PayloadDigest digest{};
    Sha256Of(config, digest.data());
    Sha256Of(payload, digest.data() + 32);
    Sha256Of(entryDigests, digest.data() + 64);
    return digest;
}

std::string_view EntryDigestTable(HMODULE module)
{
    std::string_view table;
    return FindBytes(module ? module : ::GetModuleHandleW(nullptr), kDigestResourceType, kEntryDigestsResourceId,
                     &table)
               ? table
               : std::string_view();
}

DigestCheck CheckPayloadDigest(HMODULE module, const PayloadSource& source)
{
    const ResourceWindow& payload = source.image;
    if (!module)
        module = ::GetModuleHandleW(nullptr);
    std::string_view recorded;
    if (!FindBytes(module, kDigestResourceType, kDigestResourceId, &recorded))
        return DigestCheck::Absent;
    // A digest cut short, or resources it covers gone, is damage, never a
    // build without a digest.
    std::string_view config, image, table;
    std::string_view dataFiles;
    const bool split = FindBytes(module, kDigestResourceType, kDataFilesResourceId, &dataFiles);
    if (recorded.size() != (split ? sizeof(SplitPayloadDigest) : sizeof(PayloadDigest)) ||
        split != source.Split() || !FindBytes(module, L"INI", kConfigId, &config) ||
        !FindBytes(module, L"DATA", kPayloadId, &image) ||
        !FindBytes(module, kDigestResourceType, kEntryDigestsResourceId, &table) || payload.size != image.size())
        return DigestCheck::Mismatch;
    SplitPayloadDigest actual{};
    Sha256Of(config, actual.data());  // prepares the SHA-256 code too
    Sha256Of(table, actual.data() + 64);
    if (split)
        Sha256Of(dataFiles, actual.data() + 96);
    // The payload through the held window, never through the image: every
    // page of the image that is read stays in the working set.
    CSha256 state;
    Sha256_Init(&state);
    if (!ReadResourceWindow(payload, [&state](const BYTE* data, size_t size) {
            Sha256_Update(&state, data, size);
            return true;
        }))
        return DigestCheck::Mismatch;
    Sha256_Final(&state, actual.data() + 32);
    return std::memcmp(actual.data(), recorded.data(), recorded.size()) == 0 ? DigestCheck::Match
                                                                          : DigestCheck::Mismatch;
}
