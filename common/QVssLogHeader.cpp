#include "common/QVssLogHeader.h"

namespace {

// Writes like snprintf: as much as fits with a terminating zero, counting the
// length of the whole.
class BoundedWriter {
  public:
    BoundedWriter(char* buffer, size_t size) : m_buffer(buffer), m_size(size) {}

    void Put(char c) {
        if (m_length + 1 < m_size) m_buffer[m_length] = c;
        ++m_length;
    }
    void Put(const char* s) {  // printf's %s
        for (s = s ? s : "(null)"; *s; ++s) Put(*s);
    }
    void Decimal(long value, int width) {  // printf's %0<width>ld
        char digits[24];
        int n = 0;
        unsigned long v = value < 0 ? 0UL - static_cast<unsigned long>(value) : value;
        do {
            digits[n++] = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v);
        if (value < 0) Put('-');
        for (int pad = width - n - (value < 0 ? 1 : 0); pad > 0; --pad) Put('0');
        while (n) Put(digits[--n]);
    }
    void Hex(uint32_t value) {  // printf's %x
        char digits[8];
        int n = 0;
        do {
            digits[n++] = "0123456789abcdef"[value & 0xf];
            value >>= 4;
        } while (value);
        while (n) Put(digits[--n]);
    }
    int Finish() {
        if (m_size) m_buffer[m_length < m_size ? m_length : m_size - 1] = '\0';
        return static_cast<int>(m_length);
    }

  private:
    char* m_buffer;
    size_t m_size;
    size_t m_length = 0;
};

}  // namespace

int marl::common::FormatLogHeader(char* buffer, size_t size, const marl::common::QLogLineStamp& s) {
    const marl::platform::LocalTime& t = s.time;
    BoundedWriter w(buffer, size);
    w.Put('[');
    w.Decimal(t.year, 4);
    w.Put('/');
    w.Decimal(t.month, 2);
    w.Put('/');
    w.Decimal(t.day, 2);
    w.Put('-');
    w.Decimal(t.hour, 2);
    w.Put(':');
    w.Decimal(t.minute, 2);
    w.Put(':');
    w.Decimal(t.second, 2);
    w.Put('.');
    w.Decimal(t.millisecond, 3);
    w.Put("][");
    w.Put(s.module.c_str());
    w.Put("][");
    w.Put(s.levelName);
    w.Put("][");
    w.Put(s.file);
    w.Put(':');
    w.Decimal(s.line, 0);
    w.Put("][");
    w.Put(s.function);
    w.Put("][PID:0x");
    w.Hex(s.pid);
    w.Put("][TID:0x");
    w.Hex(s.tid);
    w.Put(']');
    return w.Finish();
}
