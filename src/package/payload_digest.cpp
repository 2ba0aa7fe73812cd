#include "package/payload_digest.h"

extern "C" {
#include "Sha256.h"
}

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
    static std::once_flag prepared;
    std::call_once(prepared, [] { Sha256Prepare(); });
    CSha256 state;
    Sha256_Init(&state);
    Sha256_Update(&state, reinterpret_cast<const Byte*>(bytes.data()), bytes.size());
    Sha256_Final(&state, out);
}

}  // namespace

PayloadDigest ComputePayloadDigest(std::string_view config, std::string_view payload)
{
    PayloadDigest digest{};
    Sha256Of(config, digest.data());
    Sha256Of(payload, digest.data() + 32);
    return digest;
}

DigestCheck CheckPayloadDigest(HMODULE module)
{
    if (!module)
        module = ::GetModuleHandleW(nullptr);
    std::string_view recorded;
    if (!FindBytes(module, kDigestResourceType, kDigestResourceId, &recorded))
        return DigestCheck::Absent;
    std::string_view config, payload;
    if (recorded.size() != sizeof(PayloadDigest) || !FindBytes(module, L"INI", kConfigId, &config) ||
        !FindBytes(module, L"DATA", kPayloadId, &payload))
        return DigestCheck::Mismatch;
    const PayloadDigest actual = ComputePayloadDigest(config, payload);
    return std::memcmp(actual.data(), recorded.data(), actual.size()) == 0 ? DigestCheck::Match
                                                                          : DigestCheck::Mismatch;
}
