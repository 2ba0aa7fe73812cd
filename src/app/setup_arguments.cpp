#include "app/setup_arguments.h"

#include <windows.h>

#include <cwctype>

namespace {

bool StartsWithNoCase(const std::wstring& text, size_t at, const wchar_t* prefix)
{
    const size_t length = ::lstrlenW(prefix);
    return text.size() - at >= length &&
           ::CompareStringOrdinal(text.c_str() + at, static_cast<int>(length), prefix, static_cast<int>(length),
                                  TRUE) == CSTR_EQUAL;
}

}  // namespace

SetupArguments ParseSetupArguments(const std::wstring& commandLine)
{
    SetupArguments arguments;
    size_t at = 0;
    // The program's name, quoted or up to the first blank.
    if (!commandLine.empty() && commandLine[0] == L'"') {
        const size_t close = commandLine.find(L'"', 1);
        at = close == std::wstring::npos ? commandLine.size() : close + 1;
    } else {
        while (at < commandLine.size() && commandLine[at] != L' ' && commandLine[at] != L'\t')
            ++at;
    }
    for (;;) {
        while (at < commandLine.size() && (commandLine[at] == L' ' || commandLine[at] == L'\t'))
            ++at;
        if (at >= commandLine.size())
            break;
        // /D=... as typed, or "/D=..." as a shell quotes an argument with
        // blanks when it builds the command line.
        const bool quoted = commandLine[at] == L'"' && StartsWithNoCase(commandLine, at + 1, L"/D=");
        if (quoted || StartsWithNoCase(commandLine, at, L"/D=")) {
            std::wstring folder = commandLine.substr(at + (quoted ? 4 : 3));
            while (!folder.empty() && std::iswspace(folder.back()))
                folder.pop_back();
            if (quoted && !folder.empty() && folder.back() == L'"')
                folder.pop_back();
            else if (folder.size() >= 2 && folder.front() == L'"' && folder.back() == L'"')
                folder = folder.substr(1, folder.size() - 2);
            arguments.hasFolder = true;
            arguments.folder = folder;
            break;
        }
        size_t end = at;
        // "/LOG=..." as a shell quotes a file name with blanks, or
        // /LOG="..." as typed: up to the closing quote.
        const bool quotedLog = commandLine[at] == L'"' && StartsWithNoCase(commandLine, at + 1, L"/LOG=");
        if (quotedLog || StartsWithNoCase(commandLine, at, L"/LOG=\"")) {
            // Either way the text starts after the sixth character.
            const size_t open = at + 5;
            const size_t close = commandLine.find(L'"', open + 1);
            const size_t stop = close == std::wstring::npos ? commandLine.size() : close;
            arguments.log = true;
            arguments.logFile = commandLine.substr(open + 1, stop - open - 1);
            at = close == std::wstring::npos ? stop : close + 1;
            continue;
        }
        while (end < commandLine.size() && commandLine[end] != L' ' && commandLine[end] != L'\t')
            ++end;
        const std::wstring token = commandLine.substr(at, end - at);
        if (token == L"/S" || token == L"/s") {
            arguments.silent = true;
        } else if (StartsWithNoCase(token, 0, L"/LOG") && (token.size() == 4 || token[4] == L'=')) {
            arguments.log = true;
            arguments.logFile = token.size() > 5 ? token.substr(5) : std::wstring();
        } else {
            arguments.unknown = true;
        }
        at = end;
    }
    return arguments;
}
