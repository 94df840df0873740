#include "catalogue/natural_order.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <utility>

#include "catalogue/utf8_decode.h"

namespace {

enum class FoldKind : uint8_t {
    Offset,     // every code point of the range adds delta
    EvenPairs,  // even code points are capitals, each folds to the odd one after it
    OddPairs,   // odd code points are capitals, each folds to the even one after it
};

struct FoldRange {
    char32_t first;
    char32_t last;
    FoldKind kind;
    int32_t delta;
};

constexpr FoldKind O = FoldKind::Offset;
constexpr FoldKind E = FoldKind::EvenPairs;
constexpr FoldKind D = FoldKind::OddPairs;

// Simple case folding of the alphabets a file name is likely to use, ascending and without
// overlaps so it can be searched by bisection.
constexpr std::array kFoldTable = std::to_array<FoldRange>({
    {0x0041, 0x005A, O, 32},    {0x00B5, 0x00B5, O, 775},  {0x00C0, 0x00D6, O, 32},
    {0x00D8, 0x00DE, O, 32},    {0x0100, 0x012F, E, 0},    {0x0132, 0x0137, E, 0},
    {0x0139, 0x0148, D, 0},     {0x014A, 0x0177, E, 0},    {0x0178, 0x0178, O, -121},
    {0x0179, 0x017E, D, 0},     {0x017F, 0x017F, O, -268}, {0x0181, 0x0181, O, 210},
    {0x0182, 0x0185, E, 0},     {0x0186, 0x0186, O, 206},  {0x0187, 0x0187, D, 0},
    {0x0189, 0x018A, O, 205},   {0x018B, 0x018B, D, 0},    {0x018E, 0x018E, O, 79},
    {0x018F, 0x018F, O, 202},   {0x0190, 0x0190, O, 203},  {0x0191, 0x0191, D, 0},
    {0x0193, 0x0193, O, 205},   {0x0194, 0x0194, O, 207},  {0x0196, 0x0196, O, 211},
    {0x0197, 0x0197, O, 209},   {0x0198, 0x0198, E, 0},    {0x019C, 0x019C, O, 211},
    {0x019D, 0x019D, O, 213},   {0x019F, 0x019F, O, 214},  {0x01A0, 0x01A5, E, 0},
    {0x01A6, 0x01A6, O, 218},   {0x01A7, 0x01A7, D, 0},    {0x01A9, 0x01A9, O, 218},
    {0x01AC, 0x01AC, E, 0},     {0x01AE, 0x01AE, O, 218},  {0x01AF, 0x01AF, D, 0},
    {0x01B1, 0x01B2, O, 217},   {0x01B3, 0x01B6, D, 0},    {0x01B7, 0x01B7, O, 219},
    {0x01B8, 0x01B8, E, 0},     {0x01BC, 0x01BC, E, 0},    {0x01C4, 0x01C4, O, 2},
    {0x01C5, 0x01C5, O, 1},     {0x01C7, 0x01C7, O, 2},    {0x01C8, 0x01C8, O, 1},
    {0x01CA, 0x01CA, O, 2},     {0x01CB, 0x01CB, O, 1},    {0x01CD, 0x01DC, D, 0},
    {0x01DE, 0x01EF, E, 0},     {0x01F1, 0x01F1, O, 2},    {0x01F2, 0x01F2, O, 1},
    {0x01F4, 0x01F4, E, 0},     {0x01F6, 0x01F6, O, -97},  {0x01F7, 0x01F7, O, -56},
    {0x01F8, 0x021F, E, 0},     {0x0220, 0x0220, O, -130}, {0x0222, 0x0233, E, 0},
    {0x023A, 0x023A, O, 10795}, {0x023B, 0x023B, D, 0},    {0x023D, 0x023D, O, -163},
    {0x023E, 0x023E, O, 10792}, {0x0241, 0x0241, D, 0},    {0x0243, 0x0243, O, -195},
    {0x0244, 0x0244, O, 69},    {0x0245, 0x0245, O, 71},   {0x0246, 0x024F, E, 0},
    {0x0345, 0x0345, O, 116},   {0x0370, 0x0373, E, 0},    {0x0376, 0x0376, E, 0},
    {0x037F, 0x037F, O, 116},   {0x0386, 0x0386, O, 38},   {0x0388, 0x038A, O, 37},
    {0x038C, 0x038C, O, 64},    {0x038E, 0x038F, O, 63},   {0x0391, 0x03A1, O, 32},
    {0x03A3, 0x03AB, O, 32},    {0x03C2, 0x03C2, O, 1},    {0x03CF, 0x03CF, O, 8},
    {0x03D0, 0x03D0, O, -30},   {0x03D1, 0x03D1, O, -25},  {0x03D5, 0x03D5, O, -15},
    {0x03D6, 0x03D6, O, -22},   {0x03D8, 0x03EF, E, 0},    {0x03F0, 0x03F0, O, -54},
    {0x03F1, 0x03F1, O, -48},   {0x03F4, 0x03F4, O, -60},  {0x03F5, 0x03F5, O, -64},
    {0x03F7, 0x03F7, D, 0},     {0x03F9, 0x03F9, O, -7},   {0x03FA, 0x03FA, E, 0},
    {0x03FD, 0x03FF, O, -130},  {0x0400, 0x040F, O, 80},   {0x0410, 0x042F, O, 32},
    {0x0460, 0x0481, E, 0},     {0x048A, 0x04BF, E, 0},    {0x04C0, 0x04C0, O, 15},
    {0x04C1, 0x04CE, D, 0},     {0x04D0, 0x052F, E, 0},    {0x0531, 0x0556, O, 48},
    {0x10A0, 0x10C5, O, 7264},  {0x10C7, 0x10C7, O, 7264}, {0x10CD, 0x10CD, O, 7264},
    {0x1E00, 0x1E95, E, 0},     {0x1E9B, 0x1E9B, O, -58},  {0x1E9E, 0x1E9E, O, -7615},
    {0x1EA0, 0x1EFF, E, 0},     {0xFF21, 0xFF3A, O, 32},
});

constexpr bool isAscendingWithoutOverlap(const auto& table) {
    for (size_t i = 0; i < table.size(); ++i) {
        if (table[i].first > table[i].last || (i > 0 && table[i - 1].last >= table[i].first))
            return false;
    }
    return true;
}
static_assert(isAscendingWithoutOverlap(kFoldTable), "foldCase bisects the table");

// Sort keys of the units that are not digit runs: folded code points, then bytes that are
// not valid UTF-8 (after every code point), and the rank a digit run takes among them.
constexpr uint32_t kInvalidByteBase = 0x110000;
constexpr uint32_t kDigitRunKey = '0';

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The key of the character at pos, which is not a digit; moves pos past it.
uint32_t nextKey(std::string_view text, size_t& pos) {
    char32_t codePoint = 0;
    const size_t length = decodeUtf8(text, pos, codePoint);
    if (length == 0)
        return kInvalidByteBase + static_cast<unsigned char>(text[pos++]);
    pos += length;
    return foldCase(codePoint);
}

struct DigitRun {
    size_t leadingZeros;
    std::string_view significant;
};

DigitRun takeDigitRun(std::string_view text, size_t& pos) {
    const size_t start = pos;
    while (pos < text.size() && text[pos] == '0')
        ++pos;
    const size_t significantStart = pos;
    while (pos < text.size() && isDigit(text[pos]))
        ++pos;
    return {significantStart - start, text.substr(significantStart, pos - significantStart)};
}

int sign(int value) {
    return (value > 0) - (value < 0);
}

// Compares two digit runs by value without converting them, so runs of any length work.
int compareDigitRuns(const DigitRun& a, const DigitRun& b) {
    if (a.significant.size() != b.significant.size())
        return a.significant.size() < b.significant.size() ? -1 : 1;
    return sign(a.significant.compare(b.significant));
}

int compareBytes(std::string_view a, std::string_view b) {
    const size_t common = std::min(a.size(), b.size());
    const int result = common == 0 ? 0 : std::memcmp(a.data(), b.data(), common);
    if (result != 0)
        return sign(result);
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// Paths of one folder share a long prefix, and identical bytes compare equal at every level.
// The prefix is skipped up to the last byte after which both texts surely start a new unit:
// after an ASCII byte that is not a digit (never part of a digit run or a UTF-8 sequence).
size_t commonUnitPrefix(std::string_view a, std::string_view b) {
    const size_t common = std::min(a.size(), b.size());
    size_t length = static_cast<size_t>(
        std::mismatch(a.begin(), a.begin() + common, b.begin()).first - a.begin());
    while (length > 0 &&
           (isDigit(a[length - 1]) || static_cast<unsigned char>(a[length - 1]) >= 0x80))
        --length;
    return length;
}

// The key of a name: its units, a 0 byte ending them, the leading zeros of its digit runs,
// then its own bytes. Each part is compared only where the parts before it are equal, as
// naturalCompare's three levels are. A unit is a character key plus one (so 0 ends the units
// first) in one to three bytes whose first byte tells the length, and a digit run is the
// digit run's rank as a unit, its length and its significant digits.
constexpr uint32_t kTwoByteUnit = 0xC0;
constexpr uint32_t kThreeByteUnit = 0x2FC0;
constexpr uint32_t kThreeByteLead = 0xEF;
constexpr uint32_t kLargestUnit = kInvalidByteBase + 0xFF + 1;
static_assert(kThreeByteLead + ((kLargestUnit - kThreeByteUnit) >> 16) <= 0xFF,
              "every unit fits three key bytes");
static_assert(kDigitRunKey + 1 < kTwoByteUnit, "a digit run's rank is one key byte");

void appendUnit(uint32_t unit, char*& out) {
    if (unit < kTwoByteUnit) {
        *out++ = static_cast<char>(unit);
    } else if (unit < kThreeByteUnit) {
        const uint32_t rest = unit - kTwoByteUnit;
        *out++ = static_cast<char>(kTwoByteUnit + (rest >> 8));
        *out++ = static_cast<char>(rest & 0xFF);
    } else {
        const uint32_t rest = unit - kThreeByteUnit;
        *out++ = static_cast<char>(kThreeByteLead + (rest >> 16));
        *out++ = static_cast<char>((rest >> 8) & 0xFF);
        *out++ = static_cast<char>(rest & 0xFF);
    }
}

// A count of any size whose bytes order larger counts later (rising) or earlier (falling);
// neither form is a prefix of another count's form.
void appendRising(size_t count, char*& out) {
    for (; count >= 0xFF; count -= 0xFF)
        *out++ = '\xFF';
    *out++ = static_cast<char>(count);
}

void appendFalling(size_t count, char*& out) {
    for (; count >= 0xFF; count -= 0xFF)
        *out++ = '\0';
    *out++ = static_cast<char>(0xFF - count);
}

// ASCII decodes as itself and only its capitals fold, so most names skip decoding.
uint32_t nextUnitKey(std::string_view text, size_t& pos) {
    const auto byte = static_cast<unsigned char>(text[pos]);
    if (byte >= 0x80)
        return nextKey(text, pos);
    ++pos;
    return byte >= 'A' && byte <= 'Z' ? byte + ('a' - 'A') : byte;
}

void appendUnits(std::string_view text, char*& out) {
    for (size_t pos = 0; pos < text.size();) {
        if (!isDigit(text[pos])) {
            appendUnit(nextUnitKey(text, pos) + 1, out);
            continue;
        }
        const DigitRun run = takeDigitRun(text, pos);
        *out++ = static_cast<char>(kDigitRunKey + 1);
        appendRising(run.significant.size(), out);
        out = std::copy(run.significant.begin(), run.significant.end(), out);
    }
    *out++ = '\0';
}

// Digits are ASCII and never part of a UTF-8 sequence, so the digit runs are the runs of
// digit bytes; more leading zeros come first.
void appendLeadingZeros(std::string_view text, char*& out) {
    for (size_t pos = 0; pos < text.size();) {
        if (!isDigit(text[pos])) {
            ++pos;
            continue;
        }
        appendFalling(takeDigitRun(text, pos).leadingZeros, out);
    }
}

// The length that every name begins with, cut back to a unit boundary as commonUnitPrefix
// does: the units, zeros and bytes of that prefix are the same in every key.
size_t sharedUnitPrefix(size_t count, const std::function<std::string_view(size_t)>& nameAt) {
    if (count == 0)
        return 0;
    const std::string_view first = nameAt(0);
    size_t length = first.size();
    for (size_t i = 1; i < count && length > 0; ++i)
        length = commonUnitPrefix(first.substr(0, length), nameAt(i));
    return length;
}

// A sort entry: the key's first eight bytes as a number (zeros past its end) decide most
// comparisons without reaching the key itself.
struct SortEntry {
    uint64_t head;
    uint32_t position;
};

uint64_t keyHead(std::string_view key) {
    uint64_t head = 0;
    for (size_t i = 0; i < 8; ++i)
        head = (head << 8) | (i < key.size() ? static_cast<unsigned char>(key[i]) : 0u);
    return head;
}

// Sorts entries by head, stably, one byte at a time from the lowest; a byte that every head
// shares needs no pass. Eight passes over the entries beat a comparison sort's seventeen
// rounds of unpredictable branches for a folder of 100,000 names.
void sortByHead(std::vector<SortEntry>& entries) {
    std::array<std::array<uint32_t, 256>, 8> counts{};
    for (const SortEntry& entry : entries) {
        for (size_t byte = 0; byte < 8; ++byte)
            ++counts[byte][(entry.head >> (8 * byte)) & 0xFF];
    }
    std::vector<SortEntry> spare(entries.size());
    for (size_t byte = 0; byte < 8; ++byte) {
        std::array<uint32_t, 256>& next = counts[byte];
        if (std::find(next.begin(), next.end(), entries.size()) != next.end())
            continue;
        uint32_t total = 0;
        for (uint32_t& count : next)
            total += std::exchange(count, total);
        for (const SortEntry& entry : entries)
            spare[next[(entry.head >> (8 * byte)) & 0xFF]++] = entry;
        entries.swap(spare);
    }
}

// Orders each run of equal heads by the whole keys.
template <typename KeyOf>
void sortTies(std::vector<SortEntry>& entries, const KeyOf& keyOf) {
    for (auto run = entries.begin(); run != entries.end();) {
        const auto end = std::find_if(
            run, entries.end(), [&](const SortEntry& entry) { return entry.head != run->head; });
        if (end - run > 1) {
            std::sort(run, end, [&](const SortEntry& a, const SortEntry& b) {
                return keyOf(a.position) < keyOf(b.position);
            });
        }
        run = end;
    }
}

// The order by comparing names directly, for key sets too large for 32-bit offsets.
std::vector<uint32_t> comparedOrder(size_t count,
                                    const std::function<std::string_view(size_t)>& nameAt) {
    std::vector<uint32_t> order(count);
    for (size_t i = 0; i < count; ++i)
        order[i] = static_cast<uint32_t>(i);
    std::sort(order.begin(), order.end(),
              [&](uint32_t a, uint32_t b) { return naturalCompare(nameAt(a), nameAt(b)) < 0; });
    return order;
}

}  // namespace

char32_t foldCase(char32_t codePoint) {
    const auto* range = std::upper_bound(
        kFoldTable.begin(), kFoldTable.end(), codePoint,
        [](char32_t value, const FoldRange& entry) { return value < entry.first; });
    if (range == kFoldTable.begin())
        return codePoint;
    --range;
    if (codePoint > range->last)
        return codePoint;
    switch (range->kind) {
        case FoldKind::Offset:
            return static_cast<char32_t>(static_cast<int32_t>(codePoint) + range->delta);
        case FoldKind::EvenPairs:
            return codePoint % 2 == 0 ? codePoint + 1 : codePoint;
        case FoldKind::OddPairs:
            return codePoint % 2 == 1 ? codePoint + 1 : codePoint;
    }
    return codePoint;
}

int naturalCompare(std::string_view a, std::string_view b) {
    size_t i = commonUnitPrefix(a, b);
    size_t j = i;
    int zerosTie = 0;
    while (i < a.size() && j < b.size()) {
        const char ca = a[i];
        const char cb = b[j];
        // Identical ASCII needs no decoding.
        if (ca == cb && static_cast<unsigned char>(ca) < 0x80 && !isDigit(ca)) {
            ++i;
            ++j;
            continue;
        }
        const bool digitA = isDigit(ca);
        const bool digitB = isDigit(cb);
        if (digitA && digitB) {
            const DigitRun runA = takeDigitRun(a, i);
            const DigitRun runB = takeDigitRun(b, j);
            if (const int result = compareDigitRuns(runA, runB))
                return result;
            // Equal values: "01" and "1" differ only in zeros, which decide only at the end.
            if (zerosTie == 0 && runA.leadingZeros != runB.leadingZeros)
                zerosTie = runA.leadingZeros > runB.leadingZeros ? -1 : 1;
            continue;
        }
        // A digit run never equals a character key, so a lone digit decides here.
        const uint32_t keyA = digitA ? kDigitRunKey : nextKey(a, i);
        const uint32_t keyB = digitB ? kDigitRunKey : nextKey(b, j);
        if (keyA != keyB)
            return keyA < keyB ? -1 : 1;
    }
    if (i < a.size())
        return 1;
    if (j < b.size())
        return -1;
    if (zerosTie != 0)
        return zerosTie;
    return compareBytes(a, b);
}

bool pathLessNatural(const std::filesystem::path& a, const std::filesystem::path& b) {
    return naturalCompare(a.native(), b.native()) < 0;
}

void appendNaturalKey(std::string_view text, std::string& key) {
    // A byte takes at most three key bytes as a unit, one as a leading zero and one as itself,
    // and the units end with one more.
    const size_t start = key.size();
    key.resize(start + 5 * text.size() + 1);
    char* out = key.data() + start;
    appendUnits(text, out);
    appendLeadingZeros(text, out);
    out = std::copy(text.begin(), text.end(), out);
    key.resize(static_cast<size_t>(out - key.data()));
}

std::string naturalKey(std::string_view text) {
    std::string key;
    appendNaturalKey(text, key);
    return key;
}

std::vector<uint32_t> naturalOrder(size_t count,
                                   const std::function<std::string_view(size_t)>& nameAt) {
    const size_t prefix = sharedUnitPrefix(count, nameAt);
    std::string keys;
    std::vector<uint32_t> starts(count + 1);
    for (size_t i = 0; i < count; ++i) {
        appendNaturalKey(nameAt(i).substr(prefix), keys);
        if (keys.size() > std::numeric_limits<uint32_t>::max())
            return comparedOrder(count, nameAt);
        starts[i + 1] = static_cast<uint32_t>(keys.size());
    }
    const auto keyOf = [&](uint32_t position) {
        return std::string_view(keys).substr(starts[position],
                                             starts[position + 1] - starts[position]);
    };
    std::vector<SortEntry> entries(count);
    for (size_t i = 0; i < count; ++i)
        entries[i] = {keyHead(keyOf(static_cast<uint32_t>(i))), static_cast<uint32_t>(i)};
    sortByHead(entries);
    sortTies(entries, keyOf);
    std::vector<uint32_t> order(count);
    for (size_t i = 0; i < count; ++i)
        order[i] = entries[i].position;
    return order;
}
