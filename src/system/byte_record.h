// The plain binary form of what the installer writes to read back later:
// 32-bit numbers and UTF-16 texts with their length first. Reading checks
// every length against what is left, so a cut or altered record fails.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

inline void PutU32(std::string& out, uint32_t value)
{
    out.append(reinterpret_cast<const char*>(&value), sizeof(value));
}

inline void PutText(std::string& out, const std::wstring& text)
{
    PutU32(out, static_cast<uint32_t>(text.size()));
    out.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

class ByteReader {
public:
    explicit ByteReader(std::string_view bytes) : bytes_(bytes) {}
    bool U32(uint32_t* value)
    {
        if (bytes_.size() - at_ < sizeof(*value))
            return false;
        std::memcpy(value, bytes_.data() + at_, sizeof(*value));
        at_ += sizeof(*value);
        return true;
    }
    bool Bytes(size_t count, std::string* out)
    {
        if (bytes_.size() - at_ < count)
            return false;
        out->assign(bytes_.data() + at_, count);
        at_ += count;
        return true;
    }
    // A text of at most 32,767 characters, the longest a path can be.
    bool Text(std::wstring* text)
    {
        uint32_t length = 0;
        std::string raw;
        if (!U32(&length) || length > 32767 || !Bytes(length * sizeof(wchar_t), &raw))
            return false;
        text->assign(reinterpret_cast<const wchar_t*>(raw.data()), length);
        return true;
    }
    std::string_view Rest() const { return bytes_.substr(at_); }
    bool AtEnd() const { return at_ == bytes_.size(); }

private:
    std::string_view bytes_;
    size_t at_ = 0;
};
