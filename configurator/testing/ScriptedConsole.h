#pragma once
// Test support: a console that plays a typed script and records the screen.
//
// The script is what the administrator types, byte by byte. It is consumed
// the way a Windows console delivers it: a key read takes the next byte; a
// word read takes a whole line into a line buffer (echoing it with its line
// end, as the console does while it is typed) and then words from that
// buffer; a hidden read takes the next bytes one by one ("\r" or "\n" is
// Enter, "\b" backspace). When the script is used up every read fails, as at
// the end of standard input.
#include <string>

#include "platform/console.h"

namespace marl::testing {

class ScriptedConsole : public marl::platform::Console {
  public:
    explicit ScriptedConsole(std::string script = "") : m_script(std::move(script)) {}

    void SetScript(std::string script) {
        m_script = std::move(script);
        m_pos = 0;
        m_words.clear();
    }
    // Everything written and echoed so far.
    const std::string& Screen() const { return m_screen; }
    void ClearScreen() { m_screen.clear(); }
    bool HiddenActive() const { return m_hidden; }
    size_t Unread() const { return m_script.size() - m_pos; }

    void Write(const std::string& text) override { m_screen += text; }

    bool ReadKey(char& key) override {
        if (m_pos >= m_script.size()) return false;
        key = m_script[m_pos++];
        m_screen += key;
        return true;
    }

    bool ReadWord(std::string& word) override {
        for (;;) {
            if (marl::platform::TakeWord(m_words, word)) return true;
            if (m_pos >= m_script.size()) return false;
            size_t end = m_script.find('\n', m_pos);
            size_t next = end == std::string::npos ? m_script.size() : end + 1;
            std::string line = m_script.substr(m_pos, next - m_pos);
            m_pos = next;
            m_screen += line;
            m_words = line;
        }
    }

    bool BeginHidden() override {
        m_hidden = true;
        return true;
    }
    bool ReadHiddenChar(char& c) override {
        if (!m_hidden || m_pos >= m_script.size()) return false;
        c = m_script[m_pos++];
        if (c == '\n' || c == '\r') c = marl::platform::kConsoleEnter;
        return true;
    }
    void EndHidden() override { m_hidden = false; }

  private:
    std::string m_script;
    size_t m_pos = 0;
    std::string m_words;
    std::string m_screen;
    bool m_hidden = false;
};

}  // namespace marl::testing
