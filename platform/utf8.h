#pragma once
// UTF-8 for the whole tree: archive entry names, program arguments and paths
// handed to the POSIX system, the array's query texts and URLs, and console
// lines sent to a file or pipe. Portable: no system call.
//
// Wide texts are UTF-16 where wchar_t has 16 bits (Windows) and UTF-32
// elsewhere. Callers differ on what to do with text that is not valid
// Unicode, so the replacement is NextCodePoint's, and AppendUtf8 encodes
// whatever it is given.
#include <cstddef>
#include <cstdint>
#include <string>

namespace marl::platform {

// Appends the 1 to 4 bytes of `codePoint`. Surrogate values are encoded like
// any other; a value past U+10FFFF gets the 4-byte pattern with its high bits
// lost, so callers that may meet one replace it first.
void AppendUtf8(std::string& out, uint32_t codePoint);

// The code point that starts at text[i]; moves `i` past it. With 16-bit
// wchar_t a surrogate pair is one code point. Unpaired surrogates (and, with
// 32-bit wchar_t, every surrogate value) and values past U+10FFFF are U+FFFD.
uint32_t NextCodePoint(const std::wstring& text, size_t& i);

// The UTF-8 of a whole wide text, with NextCodePoint's replacements.
std::string Utf8Of(const std::wstring& text);

// The wide text of UTF-8 bytes. Lenient, for paths that were never checked:
// a lead byte whose sequence the text cuts short is kept as one character of
// its own value, and continuation bytes are not checked.
std::wstring WideOfUtf8(const std::string& text);

}  // namespace marl::platform
