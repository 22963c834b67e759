// Name lookup that ignores ASCII letter case, without allocating on lookup.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>
#include <unordered_map>

inline char FoldCase(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Names are compared and hashed eight characters at a time: every lookup by
// name goes through here.
namespace case_folding {

inline constexpr std::size_t kWordSize = sizeof(std::uint64_t);
inline constexpr std::uint64_t kEachByte = 0x0101010101010101ull;

// FoldCase applied to each byte of a word: a byte from 'A' to 'Z' gains 0x20,
// every other byte (non-ASCII ones included) stays. No sum carries into the
// next byte.
inline std::uint64_t FoldWord(std::uint64_t word)
{
    const std::uint64_t low7 = word & (0x7F * kEachByte);
    const std::uint64_t fromA = low7 + (0x80 - 'A') * kEachByte;       // top bit: byte >= 'A'
    const std::uint64_t beyondZ = low7 + (0x80 - 'Z' - 1) * kEachByte; // top bit: byte > 'Z'
    const std::uint64_t capitals = fromA & ~beyondZ & ~word & (0x80 * kEachByte);
    return word | (capitals >> 2);
}

inline std::uint64_t FoldedWord(const char* text)
{
    std::uint64_t word;
    std::memcpy(&word, text, kWordSize);
    return FoldWord(word);
}

// A text shorter than a word as one folded word: overlapping loads that
// together hold every character. Equal only for texts of equal size.
inline std::uint64_t FoldedShort(std::string_view text)
{
    const char* p = text.data();
    const std::size_t size = text.size();
    if (size >= 4) {
        std::uint32_t head, tail;
        std::memcpy(&head, p, 4);
        std::memcpy(&tail, p + size - 4, 4);
        return FoldWord(head | (std::uint64_t{tail} << 32));
    }
    if (size == 0)
        return 0;
    const auto byte = [p](std::size_t i) { return std::uint64_t{static_cast<unsigned char>(p[i])}; };
    return FoldWord(byte(0) | (byte(size / 2) << 8) | (byte(size - 1) << 16));
}

} // namespace case_folding

// A text of a word or more is read in whole words and ends with its last
// eight characters, overlapping the word before when its size is not a
// multiple of eight.
inline bool EqualsIgnoringCase(std::string_view a, std::string_view b)
{
    using namespace case_folding;
    const std::size_t size = a.size();
    if (size != b.size())
        return false;
    if (size < kWordSize)
        return FoldedShort(a) == FoldedShort(b);
    for (std::size_t at = 0; at + kWordSize < size; at += kWordSize)
        if (FoldedWord(a.data() + at) != FoldedWord(b.data() + at))
            return false;
    return FoldedWord(a.data() + size - kWordSize) == FoldedWord(b.data() + size - kWordSize);
}

// The element of a range whose `name` equals name ignoring letter case; null when none.
template <typename Range>
auto FindNamed(const Range& range, std::string_view name) -> decltype(&*std::begin(range))
{
    for (const auto& item : range)
        if (EqualsIgnoringCase(item.name, name))
            return &item;
    return nullptr;
}

struct CaseInsensitiveHash {
    using is_transparent = void;
    // The words as EqualsIgnoringCase reads them, and the size.
    std::size_t operator()(std::string_view s) const
    {
        using namespace case_folding;
        const auto mix = [](std::uint64_t h, std::uint64_t word) {
            return (h ^ word) * 0x9E3779B97F4A7C15ull; // golden-ratio multiplier
        };
        const std::size_t size = s.size();
        std::uint64_t h = size;
        if (size < kWordSize) {
            h = mix(h, FoldedShort(s));
        } else {
            for (std::size_t at = 0; at + kWordSize < size; at += kWordSize)
                h = mix(h, FoldedWord(s.data() + at));
            h = mix(h, FoldedWord(s.data() + size - kWordSize));
        }
        return static_cast<std::size_t>(h ^ (h >> 32));
    }
};

struct CaseInsensitiveEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const { return EqualsIgnoringCase(a, b); }
};

template <typename T>
using CaseInsensitiveMap = std::unordered_map<std::string, T, CaseInsensitiveHash, CaseInsensitiveEqual>;
