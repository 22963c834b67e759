// Names compared and hashed a word at a time must agree with a comparison
// character by character, whatever the length, the position and the byte.
#include "CaseInsensitive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

bool EqualsCharByChar(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (FoldCase(a[i]) != FoldCase(b[i]))
            return false;
    return true;
}

// Lengths around the word size and its multiples, where the words of a name
// start overlapping.
constexpr std::size_t kLongest = 26;

TEST(CaseInsensitive, EveryByteAtEveryPositionComparesAsCharacterByCharacter)
{
    const CaseInsensitiveHash hash;
    for (std::size_t size = 1; size <= kLongest; ++size)
        for (std::size_t at = 0; at < size; ++at)
            for (int c = 0; c < 256; ++c) {
                std::string a(size, 'q');
                a[at] = static_cast<char>(c);
                for (int other : {c ^ 0x20, c + 1, c - 1, c ^ 0x80}) {
                    std::string b = a;
                    b[at] = static_cast<char>(other);
                    ASSERT_EQ(EqualsIgnoringCase(a, b), EqualsCharByChar(a, b))
                        << "size " << size << " at " << at << " bytes " << c << ", " << (other & 0xFF);
                    if (EqualsCharByChar(a, b)) {
                        ASSERT_EQ(hash(a), hash(b)) << "size " << size << " at " << at << " byte " << c;
                    }
                }
            }
}

TEST(CaseInsensitive, NamesDifferingInCaseAcrossWordsMatchAndHashAlike)
{
    const CaseInsensitiveHash hash;
    EXPECT_TRUE(EqualsIgnoringCase("Motor_Speed_Reference", "MOTOR_SPEED_reference"));
    EXPECT_EQ(hash("Motor_Speed_Reference"), hash("MOTOR_SPEED_reference"));
    EXPECT_FALSE(EqualsIgnoringCase("V", "V "));
    EXPECT_TRUE(EqualsIgnoringCase("", ""));
}

TEST(CaseInsensitive, NamesOfOneSizeSpreadOverBuckets)
{
    const CaseInsensitiveHash hash;
    CaseInsensitiveMap<int> map;
    for (int i = 0; i < 1000; ++i)
        map.emplace("SFTKP" + std::to_string(1000 + i), i);
    std::size_t longestChain = 0;
    for (std::size_t b = 0; b < map.bucket_count(); ++b)
        longestChain = std::max(longestChain, map.bucket_size(b));
    EXPECT_LE(longestChain, 8u);
    EXPECT_EQ(map.find("sftkp1500")->second, 500);
    EXPECT_NE(hash("ABCDEFGHI"), hash("ABCDEFGHJ"));
}

} // namespace
