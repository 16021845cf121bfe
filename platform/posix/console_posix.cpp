// The console on POSIX: termios on a terminal, plain line reads otherwise.
#include <errno.h>
#include <termios.h>
#include <unistd.h>

#include "platform/console.h"

namespace marl::platform {
namespace {

class PosixConsole : public Console {
  public:
    PosixConsole() : m_tty(isatty(0) == 1) {}
    ~PosixConsole() override { EndHidden(); }

    void Write(const std::string& text) override {
        size_t done = 0;
        while (done < text.size()) {
            ssize_t n = ::write(1, text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            done += static_cast<size_t>(n);
        }
    }

    bool ReadKey(char& key) override {
        if (m_tty) {
            if (!ReadRaw(key)) return false;
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
        if (!m_tty) {
            m_hiddenOk = ReadLine(m_hidden);
            m_hiddenPos = 0;
            return m_hiddenOk;
        }
        if (m_hiddenSaved) return true;
        if (tcgetattr(0, &m_saved) != 0) return false;
        termios raw = m_saved;
        // Line input and echo off; CR stays CR so that Enter reads as 13.
        raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        raw.c_iflag &= ~static_cast<tcflag_t>(ICRNL);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        if (tcsetattr(0, TCSANOW, &raw) != 0) return false;
        m_hiddenSaved = true;
        return true;
    }

    bool ReadHiddenChar(char& c) override {
        if (!m_tty) {
            if (!m_hiddenOk) return false;
            c = m_hiddenPos < m_hidden.size() ? m_hidden[m_hiddenPos++] : kConsoleEnter;
            if (c == 127) c = kConsoleBackspace;
            return true;
        }
        if (!ReadByte(c)) return false;
        if (c == 127 || (m_hiddenSaved && c == static_cast<char>(m_saved.c_cc[VERASE])))
            c = kConsoleBackspace;
        if (c == '\n') c = kConsoleEnter;
        return true;
    }

    void EndHidden() override {
        m_hidden.clear();
        m_hiddenOk = false;
        if (!m_hiddenSaved) return;
        tcsetattr(0, TCSANOW, &m_saved);
        m_hiddenSaved = false;
    }

  private:
    // One byte from standard input; false at the end or on a read error. A
    // terminal is read one byte at a time, since its mode changes between
    // reads; other input is read in blocks.
    bool ReadByte(char& c) {
        if (m_next < m_block.size()) {
            c = m_block[m_next++];
            return true;
        }
        if (m_ended) return false;
        char buffer[4096];
        size_t want = m_tty ? 1 : sizeof buffer;
        for (;;) {
            ssize_t n = ::read(0, buffer, want);
            if (n > 0) {
                m_block.assign(buffer, static_cast<size_t>(n));
                m_next = 1;
                c = buffer[0];
                return true;
            }
            if (n < 0 && errno == EINTR) continue;
            m_ended = !m_tty;  // a terminal may still deliver after an end-of-file key
            return false;
        }
    }

    // One byte with canonical input and echo switched off for the read.
    bool ReadRaw(char& c) {
        termios saved{};
        if (tcgetattr(0, &saved) != 0) return ReadByte(c);
        termios raw = saved;
        raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        tcsetattr(0, TCSANOW, &raw);
        bool ok = ReadByte(c);
        tcsetattr(0, TCSANOW, &saved);
        return ok;
    }

    // The next line without its line end; false when input ended before any
    // character of it. A terminal delivers it in canonical mode, echoed.
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
        return any;
    }

    bool m_tty;
    std::string m_block;  // bytes read but not yet used
    size_t m_next = 0;
    bool m_ended = false;
    std::string m_words;
    std::string m_hidden;
    size_t m_hiddenPos = 0;
    bool m_hiddenOk = false;
    bool m_hiddenSaved = false;
    termios m_saved{};
};

}  // namespace

std::unique_ptr<Console> MakeSystemConsole() { return std::make_unique<PosixConsole>(); }

}  // namespace marl::platform
