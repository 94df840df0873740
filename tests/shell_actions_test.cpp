#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "commands/shell_actions.h"
#include "platform/shell_recording.h"

void PrintTo(const ShellRequest& r, std::ostream* os) {
    *os << "{file \"" << r.file << "\", parameters \"" << r.parameters << "\", verb \"" << r.verb
        << "\", mask " << r.mask << ", show " << r.showMode << "}";
}

namespace {

using Action = void (*)(const PictureListState&);

class ShellActionsTest : public ::testing::Test {
  protected:
    void SetUp() override { setShellBackend(&recorder); }
    void TearDown() override { setShellBackend(nullptr); }

    static PictureListState listOf(std::vector<std::filesystem::path> paths, int32_t index) {
        PictureListState list;
        list.pictureList = std::move(paths);
        list.currentIndex = index;
        return list;
    }

    RecordingShellBackend recorder;
};

struct RecordRow {
    const char* name;
    Action action;
    ShellRequest expected;
};

// The current picture is the second one, so an action that took the first entry fails.
const RecordRow kRecordRows[] = {
    {"OpenWithRunsTheChooserMaximised",
     &openWith,
     {"rundll32.exe", "shell32.dll,OpenAs_RunDLL /pics/b.jpg", "", 0, 3}},
    {"PropertiesUsesTheVerbOnTheFile",
     &showProperties,
     {"/pics/b.jpg", "", "properties", 0x0000000C, 5}},
    {"PrintUsesTheVerbOnTheFile", &printPicture, {"/pics/b.jpg", "", "print", 0x0000000C, 5}},
    {"WebSiteOpensTheHttpAddress",
     &openWebSite,
     {"http://quillmere.org/", "", "open", 0x0000000C, 5}},
};

TEST_F(ShellActionsTest, EachActionSendsExactlyItsRecord) {
    for (const RecordRow& row : kRecordRows) {
        SCOPED_TRACE(row.name);
        recorder.requests.clear();
        recorder.intents.clear();
        row.action(listOf({"/pics/a.jpg", "/pics/b.jpg", "/pics/c.jpg"}, 1));
        ASSERT_EQ(recorder.requests.size(), 1u);
        EXPECT_EQ(recorder.requests[0], row.expected);
        // The system backend acts on the intent alone, so it must say what the record says.
        EXPECT_EQ(recorder.intents.at(0), interpretShellRequest(row.expected));
    }
}

struct NoPictureRow {
    const char* name;
    std::vector<std::filesystem::path> paths;
    int32_t index;
};

const NoPictureRow kNoPictureRows[] = {
    {"EmptyList", {}, 0},
    {"EmptiedByDeletion", {}, -1},
    {"IndexBeforeTheList", {"/pics/a.jpg"}, -1},
    {"IndexJustPastTheEnd", {"/pics/a.jpg", "/pics/b.jpg"}, 2},
    {"IndexFarPastTheEnd", {"/pics/a.jpg"}, 1000},
};

TEST_F(ShellActionsTest, FileActionsDoNothingWithoutACurrentPicture) {
    for (const NoPictureRow& row : kNoPictureRows) {
        SCOPED_TRACE(row.name);
        const PictureListState list = listOf(row.paths, row.index);
        for (Action action : {&openWith, &showProperties, &printPicture}) {
            action(list);
        }
        EXPECT_TRUE(recorder.requests.empty());
        openWebSite(list);
        ASSERT_EQ(recorder.requests.size(), 1u);
        EXPECT_EQ(recorder.requests[0].file, "http://quillmere.org/");
        recorder.requests.clear();
    }
}

struct PathRow {
    const char* name;
    std::string path;
};

const PathRow kPathRows[] = {
    {"BlanksStayUnquoted", "/tmp/a b/c d.jpg"},
    {"QuotesStayAsTheyAre", "/tmp/say \"cheese\".jpg"},
    {"InvalidUtf8PassesByteForByte", std::string("/tmp/\xff\xfe caf\xe9.jpg")},
    {"LeadingBlankInTheName", "/tmp/ x.jpg"},
};

TEST_F(ShellActionsTest, PathReachesTheShellWholeAndUnchanged) {
    for (const PathRow& row : kPathRows) {
        SCOPED_TRACE(row.name);
        recorder.requests.clear();
        recorder.intents.clear();
        const PictureListState list = listOf({std::filesystem::path(row.path)}, 0);
        openWith(list);
        showProperties(list);
        printPicture(list);
        ASSERT_EQ(recorder.requests.size(), 3u);
        EXPECT_EQ(recorder.requests[0].parameters, "shell32.dll,OpenAs_RunDLL " + row.path);
        EXPECT_EQ(recorder.requests[1].file, row.path);
        EXPECT_EQ(recorder.requests[2].file, row.path);
        ASSERT_EQ(recorder.intents.size(), 3u);
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(recorder.intents[i], interpretShellRequest(recorder.requests[i]));
        }
    }
}

TEST_F(ShellActionsTest, PropertiesTwiceMakesTwoRequests) {
    const PictureListState list = listOf({"/pics/a.jpg"}, 0);
    showProperties(list);
    showProperties(list);
    ASSERT_EQ(recorder.requests.size(), 2u);
    EXPECT_EQ(recorder.requests[0], recorder.requests[1]);
    EXPECT_EQ(recorder.requests[1].verb, "properties");
}

}  // namespace
