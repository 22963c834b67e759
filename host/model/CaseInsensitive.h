// Name lookup that ignores ASCII letter case, without allocating on lookup.
#pragma once

#include <cstddef>
#include <iterator>
#include <string>
#include <string_view>
#include <unordered_map>

inline char FoldCase(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline bool EqualsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (FoldCase(a[i]) != FoldCase(b[i]))
            return false;
    return true;
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
    std::size_t operator()(std::string_view s) const
    {
        std::size_t h = 14695981039346656037ull; // FNV-1a
        for (char c : s)
            h = (h ^ static_cast<unsigned char>(FoldCase(c))) * 1099511628211ull;
        return h;
    }
};

struct CaseInsensitiveEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const { return EqualsIgnoringCase(a, b); }
};

template <typename T>
using CaseInsensitiveMap = std::unordered_map<std::string, T, CaseInsensitiveHash, CaseInsensitiveEqual>;
