#pragma once
// The interactive console of the configuration program: one key press without
// Enter, one whitespace-delimited word, and a hidden entry read character by
// character.
//
// Backends: the console API in the Windows build (win32/console_win32.cpp),
// termios in the POSIX build (posix/console_posix.cpp). Both fall back to
// plain reads when standard input is not a console or terminal (a pipe or a
// file); input is then taken line by line: a key is the first character of
// the next line, a hidden entry is the next line, and the rest of a line after
// a key or a hidden entry is discarded. Words come from a line buffer in both
// cases, like the C++ stream extraction the console program was designed
// around: a line with two words answers two word questions.
//
// Failure: every read returns false when standard input has ended or a read
// failed; nothing is thrown. Output errors are ignored.
//
// Thread safety: one console object per process, used from one thread.
#include <memory>
#include <string>

namespace marl::platform {

// The character a hidden read reports for Enter and for backspace, whichever
// key codes the terminal sends.
constexpr char kConsoleEnter = 13;
constexpr char kConsoleBackspace = 8;

// The console mode bits cleared for a hidden entry (line input, echo input).
constexpr unsigned long kConsoleLineInput = 0x2;
constexpr unsigned long kConsoleEchoInput = 0x4;

class Console {
  public:
    virtual ~Console() = default;

    // Writes `text` as it stands; "\n" is the line end.
    virtual void Write(const std::string& text) = 0;

    // One key press, without waiting for Enter, echoed to the console.
    virtual bool ReadKey(char& key) = 0;

    // The next whitespace-delimited word; the console echoes it while it is
    // typed. Leading white space and empty lines are skipped.
    virtual bool ReadWord(std::string& word) = 0;

    // A hidden entry: BeginHidden switches line input and echo off (the
    // previous mode is kept), ReadHiddenChar returns one character at a time
    // (Enter as kConsoleEnter, the erase key as kConsoleBackspace), EndHidden
    // restores the previous mode. EndHidden is safe to call after a failed
    // BeginHidden.
    virtual bool BeginHidden() = 0;
    virtual bool ReadHiddenChar(char& c) = 0;
    virtual void EndHidden() = 0;
};

// The process's standard input and output.
std::unique_ptr<Console> MakeSystemConsole();

// Takes the next whitespace-delimited word out of `buffer` (the unread rest of
// the lines read so far). False, with `buffer` emptied, when it holds none.
inline bool TakeWord(std::string& buffer, std::string& word) {
    const char* blanks = " \t\r\n\v\f";
    size_t begin = buffer.find_first_not_of(blanks);
    if (begin == std::string::npos) {
        buffer.clear();
        return false;
    }
    size_t end = buffer.find_first_of(blanks, begin);
    if (end == std::string::npos) end = buffer.size();
    word = buffer.substr(begin, end - begin);
    buffer.erase(0, end);
    return true;
}

}  // namespace marl::platform
