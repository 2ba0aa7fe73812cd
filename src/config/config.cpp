#include "config/config.h"

#include "system/paths.h"

#include <cstring>
#include <vector>

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\v' || c == L'\f'; }

std::wstring_view Trim(std::wstring_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::wstring Cut(std::wstring text)
{
    if (text.size() > kMaxConfigValueLength)
        text.resize(kMaxConfigValueLength);
    return text;
}

std::wstring Decode(std::string_view bytes)
{
    if (bytes.size() >= 2 && static_cast<BYTE>(bytes[0]) == 0xFF && static_cast<BYTE>(bytes[1]) == 0xFE) {
        std::wstring text((bytes.size() - 2) / 2, L'\0');
        std::memcpy(text.data(), bytes.data() + 2, text.size() * sizeof(wchar_t));
        return text;
    }
    UINT codePage = kConfigCodePage;
    if (bytes.starts_with("\xEF\xBB\xBF")) {
        bytes.remove_prefix(3);
        codePage = CP_UTF8;
    }
    if (bytes.empty())
        return {};
    const int units = ::MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(units > 0 ? units : 0), L'\0');
    if (units > 0)
        ::MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), units);
    return text;
}

// GBK when every character has a GBK form; otherwise UTF-16 with its
// byte-order mark, which the profile functions read exactly too.
std::string Encode(const std::wstring& text)
{
    if (text.empty())
        return {};
    BOOL lost = FALSE;
    const int bytes = ::WideCharToMultiByte(kConfigCodePage, WC_NO_BEST_FIT_CHARS, text.data(),
                                            static_cast<int>(text.size()), nullptr, 0, nullptr, &lost);
    if (bytes > 0 && !lost) {
        std::string encoded(static_cast<size_t>(bytes), '\0');
        ::WideCharToMultiByte(kConfigCodePage, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()),
                              encoded.data(), bytes, nullptr, nullptr);
        return encoded;
    }
    std::string encoded("\xFF\xFE");
    encoded.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    return encoded;
}


bool IsSectionLine(std::wstring_view line)
{
    line = Trim(line);
    return !line.empty() && line.front() == L'[';
}

std::wstring_view SectionName(std::wstring_view line)
{
    line = Trim(line);
    line.remove_prefix(1);
    if (const size_t close = line.rfind(L']'); close != std::wstring_view::npos)
        line = line.substr(0, close);
    return Trim(line);
}

std::wstring_view KeyOf(std::wstring_view line)
{
    line = Trim(line);
    return Trim(line.substr(0, line.find(L'=')));
}

std::wstring ValueOf(std::wstring_view line)
{
    const size_t equals = line.find(L'=');
    if (equals == std::wstring_view::npos)
        return {};
    std::wstring_view value = Trim(line.substr(equals + 1));
    if (value.size() > 1 && (value.front() == L'"' || value.front() == L'\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return std::wstring(value);
}

// The default as the profile functions give it: without trailing spaces, cut.
std::wstring DefaultOf(std::wstring fallback)
{
    while (!fallback.empty() && fallback.back() == L' ')
        fallback.pop_back();
    return Cut(std::move(fallback));
}

// The profile functions' integer reading of text.
int ParseProfileInt(const std::wstring& text, int defaultValue)
{
    if (text.empty())
        return defaultValue;
    size_t at = 0;
    while (at < text.size() && text[at] <= L' ')
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == L'+' || text[at] == L'-'))
        negative = text[at++] == L'-';
    unsigned base = 10;
    if (at + 1 < text.size() && text[at] == L'0') {
        const wchar_t mark = static_cast<wchar_t>(text[at + 1] | 0x20);
        base = mark == L'x' ? 16 : mark == L'o' ? 8 : mark == L'b' ? 2 : 10;
        if (base != 10)
            at += 2;
    }
    unsigned long result = 0;
    for (; at < text.size(); ++at) {
        const wchar_t c = text[at];
        unsigned digit = 0;
        if (c >= L'0' && c <= L'9')
            digit = static_cast<unsigned>(c - L'0');
        else if (c >= L'a' && c <= L'f')
            digit = static_cast<unsigned>(c - L'a' + 10);
        else if (c >= L'A' && c <= L'F')
            digit = static_cast<unsigned>(c - L'A' + 10);
        else
            break;
        if (digit >= base)
            break;
        result = result * base + digit;
    }
    const unsigned long value = negative ? 0ul - result : result;
    return static_cast<int>(static_cast<UINT>(value));
}

// Resource "INI" 138 of module (null: the running executable), byte for byte.
bool ResourceBytes(HMODULE module, std::string* bytes)
{
    HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(kConfigResourceId), kConfigResourceType);
    HGLOBAL loaded = found ? ::LoadResource(module, found) : nullptr;
    if (!loaded)
        return false;
    const char* data = static_cast<const char*>(::LockResource(loaded));
    const DWORD size = ::SizeofResource(module, found);
    if (!data && size != 0)
        return false;
    bytes->assign(data ? data : "", size);
    return true;
}

}  // namespace

Configuration::Configuration(std::string_view bytes) : bytes_(bytes)
{
    const std::wstring text = Decode(bytes);
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find(L'\n', start);
        std::wstring line = text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        if (!line.empty() && line.back() == L'\r')
            line.pop_back();
        lines_.push_back(std::move(line));
        if (end == std::wstring::npos) {
            start = text.size();
            endsWithLineEnd_ = false;
        } else {
            start = end + 1;
            endsWithLineEnd_ = true;
        }
    }
}

bool Configuration::FromResource(HMODULE module, Configuration* configuration)
{
    std::string bytes;
    if (!ResourceBytes(module, &bytes))
        return false;
    *configuration = Configuration(bytes);
    return true;
}

bool Configuration::Find(const std::wstring& section, const std::wstring& key, std::wstring* value) const
{
    const size_t at = FindKey(section, key);
    if (at == std::wstring::npos)
        return false;
    *value = ValueOf(lines_[at]);
    return true;
}

std::wstring Configuration::Read(const std::wstring& section, const std::wstring& key,
                                 const std::wstring& defaultValue) const
{
    std::wstring value;
    if (Find(section, key, &value))
        return Cut(std::move(value));
    return DefaultOf(defaultValue);
}

int Configuration::ReadInt(const std::wstring& section, const std::wstring& key, int defaultValue) const
{
    return ParseProfileInt(Read(section, key, L""), defaultValue);
}

void Configuration::Set(const std::wstring& section, const std::wstring& key, const std::wstring& value)
{
    bytes_.reset();
    const std::wstring line = key + L"=" + value;
    if (const size_t at = FindKey(section, key); at != std::wstring::npos) {
        lines_[at] = line;
        return;
    }
    size_t header = FindSection(section);
    if (header == std::wstring::npos) {
        lines_.push_back(L"[" + section + L"]");
        lines_.push_back(line);
        return;
    }
    // After the section's last line that is not blank.
    size_t last = header;
    for (size_t i = header + 1; i < lines_.size() && !IsSectionLine(lines_[i]); ++i) {
        if (!Trim(lines_[i]).empty())
            last = i;
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(last + 1), line);
}

std::string Configuration::Bytes() const
{
    if (bytes_)
        return *bytes_;
    std::wstring text;
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (i > 0)
            text += L"\r\n";
        text += lines_[i];
    }
    if (endsWithLineEnd_)
        text += L"\r\n";
    return Encode(text);
}

size_t Configuration::FindSection(const std::wstring& section) const
{
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (IsSectionLine(lines_[i]) && SameText(SectionName(lines_[i]), section))
            return i;
    }
    return std::wstring::npos;
}

size_t Configuration::FindKey(const std::wstring& section, const std::wstring& key) const
{
    const size_t header = FindSection(section);
    if (header == std::wstring::npos)
        return std::wstring::npos;
    for (size_t i = header + 1; i < lines_.size() && !IsSectionLine(lines_[i]); ++i) {
        const std::wstring_view name = KeyOf(lines_[i]);
        if (!name.empty() && SameText(name, key))
            return i;
    }
    return std::wstring::npos;
}
