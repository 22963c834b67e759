// Reads a fuzzer's bytes as the values a target needs, the way the fuzzer
// finds it easiest to steer: little-endian integers and raw doubles, zeros
// once the bytes run out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    bool Empty() const { return m_at >= m_size; }

    template <typename T> T Take()
    {
        T value{};
        const std::size_t n = sizeof(T) < m_size - m_at ? sizeof(T) : m_size - m_at;
        std::memcpy(&value, m_data + m_at, n);
        m_at += n;
        return value;
    }

    // At most max bytes, as text.
    std::string_view TakeText(std::size_t max)
    {
        const std::size_t n = max < m_size - m_at ? max : m_size - m_at;
        const std::string_view text(reinterpret_cast<const char*>(m_data + m_at), n);
        m_at += n;
        return text;
    }

    std::string_view Rest() { return TakeText(m_size - m_at); }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};
