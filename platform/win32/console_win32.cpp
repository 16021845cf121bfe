// The console on Windows: the console API when standard input is a console,
// plain line reads from the handle otherwise.
#include <windows.h>

#include <algorithm>

#include "platform/console.h"

namespace marl::platform {
namespace {

class Win32Console : public Console {
  public:
    Win32Console() : m_in(GetStdHandle(STD_INPUT_HANDLE)), m_out(GetStdHandle(STD_OUTPUT_HANDLE)) {
        DWORD mode = 0;
        m_console = m_in != INVALID_HANDLE_VALUE && m_in != nullptr && GetConsoleMode(m_in, &mode);
    }
    ~Win32Console() override { EndHidden(); }

    void Write(const std::string& text) override {
        // Line ends as a text-mode stream writes them.
        std::string crlf;
        crlf.reserve(text.size() + 8);
        for (char c : text) {
            if (c == '\n') crlf += '\r';
            crlf += c;
        }
        size_t done = 0;
        while (done < crlf.size()) {
            DWORD n = 0;
            DWORD chunk = static_cast<DWORD>(std::min<size_t>(crlf.size() - done, 1 << 20));
            if (!WriteFile(m_out, crlf.data() + done, chunk, &n, nullptr) || n == 0) return;
            done += n;
        }
    }

    bool ReadKey(char& key) override {
        if (m_console) {
            DWORD saved = 0;
            if (!GetConsoleMode(m_in, &saved)) return false;
            SetConsoleMode(m_in, saved & ~(kConsoleLineInput | kConsoleEchoInput));
            bool ok = ReadConsoleChar(key);
            SetConsoleMode(m_in, saved);
            if (!ok) return false;
        } else {
            std::string line;
            if (!ReadLine(line)) return false;
            key = line.empty() ? '\n' : line[0];
        }
        Write(std::string(1, key));
        return true;
    }

    bool ReadWord(std::string& word) override {
        for (;;) {
            if (TakeWord(m_words, word)) return true;
            std::string line;
            if (!ReadLine(line)) return false;
            m_words = line;
        }
    }

    bool BeginHidden() override {
        if (!m_console) {
            m_hiddenOk = ReadLine(m_hidden);
            m_hiddenPos = 0;
            return m_hiddenOk;
        }
        if (m_hiddenSaved) return true;
        if (!GetConsoleMode(m_in, &m_saved)) return false;
        if (!SetConsoleMode(m_in, m_saved & ~(kConsoleLineInput | kConsoleEchoInput))) return false;
        m_hiddenSaved = true;
        return true;
    }

    bool ReadHiddenChar(char& c) override {
        if (!m_console) {
            if (!m_hiddenOk) return false;
            c = m_hiddenPos < m_hidden.size() ? m_hidden[m_hiddenPos++] : kConsoleEnter;
            return true;
        }
        if (!ReadConsoleChar(c)) return false;
        if (c == '\n') c = kConsoleEnter;
        return true;
    }

    void EndHidden() override {
        m_hidden.clear();
        m_hiddenOk = false;
        if (!m_hiddenSaved) return;
        SetConsoleMode(m_in, m_saved);
        m_hiddenSaved = false;
    }

  private:
    bool ReadConsoleChar(char& c) {
        DWORD n = 0;
        return ReadConsoleA(m_in, &c, 1, &n, nullptr) && n == 1;
    }

    // One byte of the input in its current mode; false at the end or on error.
    // A console is read one character at a time, since its mode changes
    // between reads; other input is read in blocks.
    bool ReadByte(char& c) {
        DWORD n = 0;
        if (m_console) return ReadConsoleA(m_in, &c, 1, &n, nullptr) && n == 1;
        if (m_next < m_block.size()) {
            c = m_block[m_next++];
            return true;
        }
        char buffer[4096];
        if (m_ended || !ReadFile(m_in, buffer, sizeof buffer, &n, nullptr) || n == 0) {
            m_ended = true;
            return false;
        }
        m_block.assign(buffer, n);
        m_next = 1;
        c = buffer[0];
        return true;
    }

    // The next line without its line end; false when input ended before any
    // character of it. The console echoes it while it is typed. Ctrl+Z at the
    // start of a console line ends the input, as it does for the C runtime.
    bool ReadLine(std::string& line) {
        line.clear();
        char c = 0;
        bool any = false;
        while (ReadByte(c)) {
            any = true;
            if (c == '\n') break;
            line += c;
        }
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (m_console && !line.empty() && line[0] == 0x1a) return false;
        return any;
    }

    HANDLE m_in;
    HANDLE m_out;
    bool m_console = false;
    std::string m_block;  // bytes read from a pipe or file but not yet used
    size_t m_next = 0;
    bool m_ended = false;
    std::string m_words;
    std::string m_hidden;
    size_t m_hiddenPos = 0;
    bool m_hiddenOk = false;
    bool m_hiddenSaved = false;
    DWORD m_saved = 0;
};

}  // namespace

std::unique_ptr<Console> MakeSystemConsole() { return std::make_unique<Win32Console>(); }

}  // namespace marl::platform
