#include "catalogue/picture_list.h"

#include <gtest/gtest.h>

#include <limits>
#include <ostream>
#include <string>
#include <vector>

namespace {

PictureListState listOf(std::vector<std::filesystem::path> paths, int32_t index) {
    PictureListState list;
    list.pictureList = std::move(paths);
    list.currentIndex = index;
    return list;
}

PictureListState listOfSize(size_t size, int32_t index) {
    std::vector<std::filesystem::path> paths;
    for (size_t i = 0; i < size; ++i)
        paths.emplace_back("/p/" + std::to_string(i) + ".jpg");
    return listOf(std::move(paths), index);
}

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

struct StepRow {
    const char* trap;
    size_t size;
    int32_t start;
    int32_t afterNext;
    int32_t afterPrevious;
};

void PrintTo(const StepRow& row, std::ostream* out) {
    *out << row.trap;
}

class Stepping : public testing::TestWithParam<StepRow> {};

TEST_P(Stepping, MovesIndex) {
    const StepRow& row = GetParam();
    PictureListState forward = listOfSize(row.size, row.start);
    stepNext(forward);
    EXPECT_EQ(forward.currentIndex, row.afterNext);
    PictureListState backward = listOfSize(row.size, row.start);
    stepPrevious(backward);
    EXPECT_EQ(backward.currentIndex, row.afterPrevious);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Stepping,
    testing::Values(StepRow{"middle", 3, 1, 2, 0}, StepRow{"wraps_at_both_ends", 3, 2, 0, 1},
                    StepRow{"first_to_last", 3, 0, 1, 2}, StepRow{"single_entry", 1, 0, 0, 0},
                    StepRow{"empty_list", 0, 0, 1, -1}, StepRow{"emptied_list", 0, -1, 0, -1},
                    StepRow{"stale_index_past_end", 3, 7, 0, 2},
                    StepRow{"stale_index_before_start", 3, -5, 0, 2},
                    StepRow{"empty_list_index_saturates", 0, kMax, kMax, -1},
                    StepRow{"lowest_index_does_not_overflow", 3, kMin, 0, 2}),
    [](const testing::TestParamInfo<StepRow>& info) { return std::string(info.param.trap); });

struct RemoveRow {
    const char* trap;
    std::vector<std::filesystem::path> before;
    int32_t index;
    std::vector<std::filesystem::path> after;
    int32_t indexAfter;
};

void PrintTo(const RemoveRow& row, std::ostream* out) {
    *out << row.trap;
}

class Removal : public testing::TestWithParam<RemoveRow> {};

TEST_P(Removal, RemovesCurrentEntry) {
    const RemoveRow& row = GetParam();
    PictureListState list = listOf(row.before, row.index);
    removeCurrentEntry(list);
    EXPECT_EQ(list.pictureList, row.after);
    EXPECT_EQ(list.currentIndex, row.indexAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Removal,
    testing::Values(RemoveRow{"middle_shows_follower", {"a", "b", "c"}, 1, {"a", "c"}, 1},
                    RemoveRow{"last_shows_first", {"a", "b", "c"}, 2, {"a", "b"}, 0},
                    RemoveRow{"only_entry_empties", {"a"}, 0, {}, -1},
                    RemoveRow{"stale_index_past_end_ignored", {"a", "b"}, 5, {"a", "b"}, 5},
                    RemoveRow{"emptied_list_ignored", {}, -1, {}, -1}),
    [](const testing::TestParamInfo<RemoveRow>& info) { return std::string(info.param.trap); });

TEST(CurrentPath, NullOutsideTheList) {
    EXPECT_EQ(currentPath(listOfSize(0, 0)), nullptr);
    EXPECT_EQ(currentPath(listOfSize(2, -1)), nullptr);
    EXPECT_EQ(currentPath(listOfSize(2, 2)), nullptr);
    const PictureListState list = listOfSize(2, 1);
    ASSERT_NE(currentPath(list), nullptr);
    EXPECT_EQ(*currentPath(list), "/p/1.jpg");
}

TEST(LocateRequested, FindsExactBytesOrKeepsIndex) {
    PictureListState list = listOf({"/p/A.jpg", "/p/a.jpg", "/p/b.jpg"}, 2);
    list.requestedPath = "/p/a.jpg";
    locateRequested(list);
    EXPECT_EQ(list.currentIndex, 1);
    list.requestedPath = "/p/B.jpg";
    locateRequested(list);
    EXPECT_EQ(list.currentIndex, 1);
    list.requestedPath = "/p/./b.jpg";
    locateRequested(list);
    EXPECT_EQ(list.currentIndex, 1);
}

struct TitleRow {
    const char* trap;
    std::string path;
    std::string title;
};

void PrintTo(const TitleRow& row, std::ostream* out) {
    *out << row.trap;
}

class TitleName : public testing::TestWithParam<TitleRow> {};

TEST_P(TitleName, IsValidUtf8AfterLastSeparator) {
    EXPECT_EQ(titleFileName(GetParam().path), GetParam().title);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TitleName,
    testing::Values(
        TitleRow{"name_after_last_separator", "/pics/beach 2.jpg", "beach 2.jpg"},
        TitleRow{"no_separator", "beach.jpg", "beach.jpg"},
        TitleRow{"trailing_separator", "/pics/dir/", ""},
        TitleRow{"valid_utf8_kept", "/p/\xC3\xA9t\xC3\xA9.jpg", "\xC3\xA9t\xC3\xA9.jpg"},
        TitleRow{"invalid_byte_replaced", "/p/bad\xFF.jpg", "bad\xEF\xBF\xBD.jpg"},
        TitleRow{"truncated_sequence_at_end", "/p/x\xC3", "x\xEF\xBF\xBD"},
        TitleRow{"overlong_form_rejected", "/p/\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        TitleRow{"surrogate_rejected", "/p/\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
        TitleRow{"bad_folder_bytes_ignored", "/\xFF/ok.jpg", "ok.jpg"}),
    [](const testing::TestParamInfo<TitleRow>& info) { return std::string(info.param.trap); });

TEST(NeighbourIndices, AheadFirstWrappingAndNeverTwice) {
    PictureListState list;
    list.pictureList = {"/a", "/b", "/c", "/d"};
    list.currentIndex = 3;
    EXPECT_EQ(neighbourIndices(list, 1), (std::vector<int32_t>{0, 2}));
    EXPECT_EQ(neighbourIndices(list, -1), (std::vector<int32_t>{2, 0}));
    list.pictureList = {"/a", "/b"};
    list.currentIndex = 0;
    EXPECT_EQ(neighbourIndices(list, 1), (std::vector<int32_t>{1}));
    list.currentIndex = 2;  // left outside by a drop
    EXPECT_TRUE(neighbourIndices(list, 1).empty());
    list.pictureList = {"/a"};
    list.currentIndex = 0;
    EXPECT_TRUE(neighbourIndices(list, 1).empty());
}

}  // namespace
