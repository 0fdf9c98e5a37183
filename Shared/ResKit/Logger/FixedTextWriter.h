// Text built in a buffer of fixed size, for the ways to a crash dump, which must not allocate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace Qx {

// Appends to a fixed buffer and remembers whether everything fitted; never allocates.
class FixedTextWriter {
public:
    explicit FixedTextWriter(std::span<wchar_t> buffer) : m_buffer(buffer) {}

    void Put(wchar_t c)
    {
        if (m_size + 1 < m_buffer.size()) {
            m_buffer[m_size++] = c;
        } else {
            m_overflow = true;
        }
    }

    void Put(std::wstring_view text)
    {
        for (const wchar_t c : text) {
            Put(c);
        }
    }

    void PutNumber(std::uint64_t value, unsigned base, bool upperCase, std::size_t minimumDigits = 1)
    {
        wchar_t digits[24];
        std::size_t count = 0;
        const wchar_t* alphabet = upperCase ? L"0123456789ABCDEF" : L"0123456789abcdef";
        do {
            digits[count++] = alphabet[value % base];
            value /= base;
        } while (value != 0);
        for (; count < minimumDigits; ++count) {
            digits[count] = L'0';
        }
        while (count != 0) {
            Put(digits[--count]);
        }
    }

    // Terminates the text; true when all of it fitted.
    bool Finish()
    {
        if (m_buffer.empty()) {
            return false;
        }
        m_buffer[m_size] = L'\0';
        return !m_overflow;
    }

private:
    std::span<wchar_t> m_buffer;
    std::size_t m_size = 0;
    bool m_overflow = false;
};

} // namespace Qx
