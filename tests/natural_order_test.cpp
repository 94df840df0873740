#include "catalogue/natural_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace {

struct OrderRow {
    const char* trap;
    std::string before;
    std::string after;
};

void PrintTo(const OrderRow& row, std::ostream* out) {
    *out << row.trap;
}

class NaturalOrder : public testing::TestWithParam<OrderRow> {};

TEST_P(NaturalOrder, OrdersPairBothWays) {
    const OrderRow& row = GetParam();
    EXPECT_LT(naturalCompare(row.before, row.after), 0);
    EXPECT_GT(naturalCompare(row.after, row.before), 0);
    EXPECT_TRUE(pathLessNatural(row.before, row.after));
    EXPECT_FALSE(pathLessNatural(row.after, row.before));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, NaturalOrder,
    testing::Values(OrderRow{"digits_by_value_not_bytes", "/p/b9.jpg", "/p/b10.jpg"},
                    OrderRow{"letters_ignore_case", "/p/a.jpg", "/p/B.jpg"},
                    OrderRow{"capital_after_lower_letter", "/p/B.jpg", "/p/c.jpg"},
                    OrderRow{"runs_longer_than_64_bits", "x99999999999999999999999.jpg",
                             "x100000000000000000000000.jpg"},
                    OrderRow{"long_runs_same_length", "x1234567890123456789012345.jpg",
                             "x1234567890123456789012346.jpg"},
                    OrderRow{"leading_zeros_keep_value", "img002.jpg", "img10.jpg"},
                    OrderRow{"leading_zeros_only_break_ties", "img01.jpg", "img1.jpg"},
                    OrderRow{"zeros_tie_waits_for_later_text", "a1a.jpg", "a01b.jpg"},
                    OrderRow{"zero_valued_runs", "a00.jpg", "a0.jpg"},
                    OrderRow{"latin1_folds",
                             "\xC3\xA9"
                             "1.jpg",
                             "\xC3\x89"
                             "2.jpg"},
                    OrderRow{"greek_folds",
                             "\xCE\xB1"
                             "2.jpg",
                             "\xCE\x92"
                             "1.jpg"},
                    OrderRow{"cyrillic_folds",
                             "\xD0\xB1"
                             "2.jpg",
                             "\xD0\xAF"
                             "1.jpg"},
                    OrderRow{"dot_before_number", "a.jpg", "a1.jpg"},
                    OrderRow{"shorter_prefix_first", "a", "ab"},
                    OrderRow{"exact_bytes_break_case_ties", "A.jpg", "a.jpg"},
                    OrderRow{"invalid_bytes_after_valid_text", "a\xC3\xA9", "a\xC3"},
                    OrderRow{"invalid_bytes_by_value", "a\x80.jpg", "a\xFF.jpg"}),
    [](const testing::TestParamInfo<OrderRow>& info) { return std::string(info.param.trap); });

TEST(NaturalOrder, EqualOnlyForIdenticalBytes) {
    for (const char* text : {"", "a", "img007.jpg", "\xFF\xC3", "x00000000000000000000000001"})
        EXPECT_EQ(naturalCompare(text, text), 0) << text;
}

TEST(NaturalOrder, SortedFolderNames) {
    std::vector<std::filesystem::path> names = {"/p/b10.jpg", "/p/b9.jpg", "/p/A.png"};
    std::sort(names.begin(), names.end(), pathLessNatural);
    EXPECT_EQ(names, (std::vector<std::filesystem::path>{"/p/A.png", "/p/b9.jpg", "/p/b10.jpg"}));
}

// A comparison that is not a strict total order makes std::sort misbehave and makes the
// result depend on the listing order; check the order laws over awkward names.
TEST(NaturalOrder, IsStrictTotalOrderIndependentOfInputOrder) {
    // clang-format off
    std::vector<std::string> names = {
        "A.jpg", "a.jpg", "b9.jpg", "b09.jpg", "b10.jpg", "b010.jpg", "\xC3\x89.jpg", "e.jpg",
        "x\xFF.jpg", "x\xC3.jpg", "x\xE2\x82.jpg", "_1.jpg", "1.jpg", "01.jpg", "\xC3\xA9.jpg",
        "a1b2.jpg", "a1b02.jpg", "a01b02.jpg", "", " "};
    // clang-format on
    names.push_back("z99999999999999999999999.jpg");
    names.push_back("z100000000000000000000000.jpg");
    // Random mixes of zeros, digits, cases and partial UTF-8 reach unit boundaries that the
    // fixed names miss.
    std::mt19937 random(1234);
    const std::string alphabet = "001aA.\xC3\xA9\xFF";
    for (int i = 0; i < 40; ++i) {
        std::string name;
        for (size_t length = random() % 7; length > 0; --length)
            name += alphabet[random() % alphabet.size()];
        names.push_back(name);
    }
    for (const auto& a : names) {
        for (const auto& b : names) {
            const int ab = naturalCompare(a, b);
            EXPECT_EQ(ab, -naturalCompare(b, a)) << a << " / " << b;
            EXPECT_EQ(ab == 0, a == b) << a << " / " << b;
            for (const auto& c : names) {
                if (ab < 0 && naturalCompare(b, c) < 0) {
                    EXPECT_LT(naturalCompare(a, c), 0) << a << " < " << b << " < " << c;
                }
            }
        }
    }
    std::vector<std::string> expected = names;
    std::sort(expected.begin(), expected.end(),
              [](const auto& a, const auto& b) { return naturalCompare(a, b) < 0; });
    std::mt19937 shuffler(20240611);
    for (int round = 0; round < 20; ++round) {
        std::vector<std::string> shuffled = names;
        std::shuffle(shuffled.begin(), shuffled.end(), shuffler);
        std::sort(shuffled.begin(), shuffled.end(),
                  [](const auto& a, const auto& b) { return naturalCompare(a, b) < 0; });
        EXPECT_EQ(shuffled, expected);
    }
}

int sign(int value) {
    return (value > 0) - (value < 0);
}

// Names made of the pieces where a key could go wrong: digit runs with and without leading
// zeros (some longer than a key's one-byte counts), case pairs in and beyond ASCII, the code
// points where a unit's key grows a byte, invalid and truncated UTF-8, and separators.
std::vector<std::string> randomNames(size_t count, uint32_t seed) {
    // clang-format off
    const std::vector<std::string> pieces = {
        "0", "00", "1", "01", "9", "10", "007", std::string(254, '0'), std::string(254, '4'), std::string(255, '4'),
        "a", "A", "z", "Z", "_", ".", " ", "-", "/", "~", std::string(1, '\0'),
        "\xC3\xA9", "\xC3\x89", "\xC3\x9F", "\xE1\xBA\x9E", "\xCE\xA3", "\xCF\x83", "\xCF\x82",
        "\xD0\xAF", "\xD1\x8F", "\xC2\xBF", "\xC3\x80", "\xE2\xBE\xBF", "\xE2\xBF\x80",
        "\xEF\xBC\xBA", "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF", "\xFF", "\x80", "\xC3",
        "\xE2\x82", "\xED\xA0\x80", "\xC0\xAF"};
    // clang-format on
    std::mt19937 random(seed);
    std::vector<std::string> names(count);
    for (std::string& name : names) {
        for (size_t length = random() % 6; length > 0; --length)
            name += pieces[random() % pieces.size()];
    }
    return names;
}

// The key order must be naturalCompare's order for every pair, so that sorting by keys can
// never place a name where the comparison would not.
TEST(NaturalKey, OrdersEveryPairAsNaturalCompare) {
    const std::vector<std::string> names = randomNames(600, 20251209);
    std::vector<std::string> keys;
    for (const std::string& name : names)
        keys.push_back(naturalKey(name));
    for (size_t a = 0; a < names.size(); ++a) {
        for (size_t b = 0; b < names.size(); ++b) {
            ASSERT_EQ(sign(keys[a].compare(keys[b])), sign(naturalCompare(names[a], names[b])))
                << testing::PrintToString(names[a]) << " / " << testing::PrintToString(names[b]);
        }
    }
}

// naturalOrder leaves out the bytes every name begins with; prefixes ending in a digit or
// inside a UTF-8 sequence must be cut back, or the first unit after them would change.
TEST(NaturalOrder, KeyedSortMatchesComparisonSort) {
    for (const std::string prefix : {"", "/p/", "/p/IMG_0", "/p/7", "/p/\xC3", "\xC3\xA9"}) {
        std::vector<std::string> names = randomNames(3000, 7);
        for (std::string& name : names)
            name.insert(0, prefix);
        std::vector<std::string> expected = names;
        std::sort(expected.begin(), expected.end(),
                  [](const auto& a, const auto& b) { return naturalCompare(a, b) < 0; });
        std::vector<std::string> keyed;
        for (const uint32_t position :
             naturalOrder(names.size(), [&](size_t i) { return std::string_view(names[i]); }))
            keyed.push_back(names[position]);
        EXPECT_EQ(keyed, expected) << testing::PrintToString(prefix);
    }
}

TEST(FoldCase, MapsCapitalsToTheirSmallLetters) {
    const std::vector<std::pair<char32_t, char32_t>> rows = {
        {U'A', U'a'},           {U'a', U'a'},
        {U'\u00C9', U'\u00E9'}, {U'\u00D7', U'\u00D7'},
        {U'\u0178', U'\u00FF'}, {U'\u0100', U'\u0101'},
        {U'\u0101', U'\u0101'}, {U'\u0139', U'\u013A'},
        {U'\u01C5', U'\u01C6'}, {U'\u03A3', U'\u03C3'},
        {U'\u03C2', U'\u03C3'}, {U'\u0401', U'\u0451'},
        {U'\u042F', U'\u044F'}, {U'\u1E9E', U'\u00DF'},
        {U'\uFF3A', U'\uFF5A'}, {U'\U0001F600', U'\U0001F600'}};
    for (const auto& [capital, small] : rows)
        EXPECT_EQ(foldCase(capital), small) << std::hex << static_cast<uint32_t>(capital);
}

}  // namespace
