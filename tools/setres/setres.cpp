// setres EXE TYPE ID FILE [TYPE ID FILE ...]
//
// Replaces resources of a Windows executable with the bytes of files, through
// the system's own resource update functions: each (TYPE, ID) given loses
// every language it had and gets the file's bytes under the language its
// first old copy used (neutral when it had none); every other resource is
// kept as it was. TYPE is a name ("DATA") or
// "#" and a number ("#3" for icon images); FILE "-" only removes the
// resource. The executable is changed in place; make a copy first. Exit code
// 0 on success, 1 on failure, 2 on wrong usage.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Replacement {
    std::wstring type;
    bool remove = false;
    WORD id;
    std::wstring file;
    std::vector<char> bytes;
    std::vector<WORD> languages;
};

// One resource of the image as it is: type and name as a number or a
// name, language and bytes.
struct Existing {
    WORD type = 0;
    std::wstring typeName;
    WORD id = 0;
    std::wstring name;
    WORD language = 0;
    std::vector<char> bytes;
    LPCWSTR TypeId() const { return typeName.empty() ? MAKEINTRESOURCEW(type) : typeName.c_str(); }
    LPCWSTR NameId() const { return name.empty() ? MAKEINTRESOURCEW(id) : name.c_str(); }
};

struct Walk {
    std::vector<Existing>* found;
    Existing current;
};

BOOL CALLBACK CollectResource(HMODULE module, LPCWSTR type, LPCWSTR name, WORD language, LONG_PTR context)
{
    auto* walk = reinterpret_cast<Walk*>(context);
    Existing item = walk->current;
    item.language = language;
    HRSRC found = ::FindResourceExW(module, type, name, language);
    HGLOBAL loaded = found ? ::LoadResource(module, found) : nullptr;
    const char* data = loaded ? static_cast<const char*>(::LockResource(loaded)) : nullptr;
    if (data)
        item.bytes.assign(data, data + ::SizeofResource(module, found));
    walk->found->push_back(std::move(item));
    return TRUE;
}

BOOL CALLBACK CollectName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR context)
{
    auto* walk = reinterpret_cast<Walk*>(context);
    walk->current.id = IS_INTRESOURCE(name) ? static_cast<WORD>(reinterpret_cast<uintptr_t>(name)) : 0;
    walk->current.name = IS_INTRESOURCE(name) ? std::wstring() : std::wstring(name);
    ::EnumResourceLanguagesW(module, type, name, CollectResource, context);
    return TRUE;
}

BOOL CALLBACK CollectType(HMODULE module, LPWSTR type, LONG_PTR context)
{
    Walk walk{reinterpret_cast<std::vector<Existing>*>(context), {}};
    walk.current.type = IS_INTRESOURCE(type) ? static_cast<WORD>(reinterpret_cast<uintptr_t>(type)) : 0;
    walk.current.typeName = IS_INTRESOURCE(type) ? std::wstring() : std::wstring(type);
    ::EnumResourceNamesW(module, type, CollectName, reinterpret_cast<LONG_PTR>(&walk));
    return TRUE;
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR context)
{
    reinterpret_cast<std::vector<WORD>*>(context)->push_back(language);
    return TRUE;
}

bool ReadWholeFile(const std::wstring& path, std::vector<char>* bytes)
{
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size;
    bool ok = ::GetFileSizeEx(file, &size) && size.QuadPart < 0x7FFFFFFF;
    if (ok) {
        bytes->resize(static_cast<size_t>(size.QuadPart));
        size_t done = 0;
        while (ok && done < bytes->size()) {
            DWORD chunk = 0;
            const DWORD want = static_cast<DWORD>(std::min<size_t>(bytes->size() - done, 1u << 24));
            ok = ::ReadFile(file, bytes->data() + done, want, &chunk, nullptr) && chunk > 0;
            done += chunk;
        }
    }
    ::CloseHandle(file);
    return ok;
}

// "#16" is the numbered type 16, anything else a named type.
LPCWSTR TypeOf(const std::wstring& type)
{
    if (type.size() > 1 && type[0] == L'#')
        return MAKEINTRESOURCEW(std::wcstoul(type.c_str() + 1, nullptr, 10));
    return type.c_str();
}

bool SameType(const std::wstring& given, const Existing& old)
{
    if (given.size() > 1 && given[0] == L'#')
        return old.typeName.empty() && old.type == std::wcstoul(given.c_str() + 1, nullptr, 10);
    return ::CompareStringOrdinal(given.c_str(), -1, old.typeName.c_str(), -1, TRUE) == CSTR_EQUAL;
}

void Fail(const wchar_t* what, const std::wstring& subject)
{
    std::fwprintf(stderr, L"setres: %ls: %ls (error %lu)\n", what, subject.c_str(), ::GetLastError());
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 5 || (argc - 2) % 3 != 0) {
        std::fwprintf(stderr, L"usage: setres EXE TYPE ID FILE [TYPE ID FILE ...]\n");
        return 2;
    }
    const std::wstring exe = argv[1];
    std::vector<Replacement> replacements;
    for (int i = 2; i < argc; i += 3) {
        Replacement r{argv[i], false, static_cast<WORD>(std::wcstoul(argv[i + 1], nullptr, 10)), argv[i + 2], {}, {}};
        r.remove = r.file == L"-";
        if (!r.remove && !ReadWholeFile(r.file, &r.bytes)) {
            Fail(L"cannot read", r.file);
            return 1;
        }
        replacements.push_back(std::move(r));
    }

    // Every resource the image has now. The table is written afresh from
    // them: the system's update functions cannot be relied on to remove a
    // resource (Wine reads the old table only when the update ends), so a
    // replaced or removed resource is simply not carried over.
    HMODULE image = ::LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!image) {
        Fail(L"cannot load", exe);
        return 1;
    }
    std::vector<Existing> existing;
    ::EnumResourceTypesW(image, CollectType, reinterpret_cast<LONG_PTR>(&existing));
    for (auto& r : replacements)
        ::EnumResourceLanguagesW(image, TypeOf(r.type), MAKEINTRESOURCEW(r.id), CollectLanguage,
                                 reinterpret_cast<LONG_PTR>(&r.languages));
    ::FreeLibrary(image);

    HANDLE update = ::BeginUpdateResourceW(exe.c_str(), TRUE);
    if (!update) {
        Fail(L"cannot open for update", exe);
        return 1;
    }
    for (auto& old : existing) {
        const bool replaced = std::any_of(replacements.begin(), replacements.end(), [&old](const Replacement& r) {
            return r.id == old.id && old.name.empty() && SameType(r.type, old);
        });
        if (replaced)
            continue;
        if (!::UpdateResourceW(update, old.TypeId(), old.NameId(), old.language, old.bytes.data(),
                               static_cast<DWORD>(old.bytes.size()))) {
            Fail(L"cannot keep a resource of type", old.typeName.empty() ? std::to_wstring(old.type) : old.typeName);
            ::EndUpdateResourceW(update, TRUE);
            return 1;
        }
    }
    for (auto& r : replacements) {
        if (r.remove)
            continue;
        const WORD language = r.languages.empty() ? MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL) : r.languages[0];
        if (!::UpdateResourceW(update, TypeOf(r.type), MAKEINTRESOURCEW(r.id), language, r.bytes.data(),
                               static_cast<DWORD>(r.bytes.size()))) {
            Fail(L"cannot store", r.file);
            ::EndUpdateResourceW(update, TRUE);
            return 1;
        }
    }
    if (!::EndUpdateResourceW(update, FALSE)) {
        Fail(L"cannot write", exe);
        return 1;
    }
    return 0;
}
