// Command-line splitting as the Microsoft C runtime does it (the rules of the
// runtimes since Visual C++ 2008, which the Universal CRT keeps), so that the
// POSIX backend hands a program the same arguments Windows would.
#include "platform/process.h"

namespace marl::platform {

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// The program name: quotes group but are dropped, backslashes are ordinary
// (it has to stay a valid path), an unquoted blank ends it.
size_t ParseProgramName(const std::wstring& line, std::wstring& name) {
    bool inQuotes = false;
    size_t i = 0;
    for (; i < line.size(); ++i) {
        wchar_t c = line[i];
        if (c == L'"') {
            inQuotes = !inQuotes;
        } else if (!inQuotes && IsBlank(c)) {
            break;
        } else {
            name += c;
        }
    }
    return i;
}

// One argument starting at `i` (not a blank). 2n backslashes before a quote
// give n backslashes and the quote opens or closes a quoted part; 2n+1 give n
// and a literal quote. Inside a quoted part, "" is a literal quote. Other
// backslashes are ordinary.
size_t ParseArgument(const std::wstring& line, size_t i, std::wstring& arg) {
    bool inQuotes = false;
    while (i < line.size() && (inQuotes || !IsBlank(line[i]))) {
        size_t slashes = 0;
        while (i < line.size() && line[i] == L'\\') {
            ++slashes;
            ++i;
        }
        if (i < line.size() && line[i] == L'"') {
            arg.append(slashes / 2, L'\\');
            if (slashes % 2 == 1) {
                arg += L'"';
            } else if (inQuotes && i + 1 < line.size() && line[i + 1] == L'"') {
                arg += L'"';
                ++i;
            } else {
                inQuotes = !inQuotes;
            }
            ++i;
        } else {
            arg.append(slashes, L'\\');
            if (slashes == 0) arg += line[i++];
        }
    }
    return i;
}

}  // namespace

std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine) {
    std::vector<std::wstring> args(1);
    size_t i = ParseProgramName(commandLine, args[0]);
    for (;;) {
        while (i < commandLine.size() && IsBlank(commandLine[i])) ++i;
        if (i >= commandLine.size()) break;
        args.emplace_back();
        i = ParseArgument(commandLine, i, args.back());
    }
    return args;
}

}  // namespace marl::platform
