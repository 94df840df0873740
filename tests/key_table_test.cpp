// The command table is data: these tests pin the bindings, menu items and handlers users rely
// on, as the key table, the context menu and the dispatch read them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "commands/command_table.h"
#include "commands/context_menu.h"
#include "commands/key_table.h"

namespace {

struct KeyRow {
    int key;
    CommandId command;
};

TEST(KeyTable, EveryBoundKeyReachesItsCommand) {
    const std::vector<KeyRow> rows = {
        {Qt::Key_Left, ID_PREVIOUS},        {Qt::Key_Right, ID_NEXT},
        {Qt::Key_Up, ID_ZOOM_IN},           {Qt::Key_Down, ID_ZOOM_OUT},
        {Qt::Key_F, ID_FULL_SCREEN_TOGGLE}, {Qt::Key_Escape, ID_FULL_SCREEN_TOGGLE},
        {Qt::Key_L, ID_ROTATE_LEFT},        {Qt::Key_R, ID_ROTATE_RIGHT},
        {Qt::Key_Delete, ID_DELETE},        {Qt::Key_C, ID_BG_COLOR_TOGGLE},
        {Qt::Key_O, ID_OPEN_WITH},          {Qt::Key_P, ID_PROPERTIES},
        {Qt::Key_S, ID_SLIDESHOW_TOGGLE},
    };
    for (const KeyRow& row : rows) {
        const KeyBinding* binding = findKeyBinding(row.key);
        ASSERT_NE(binding, nullptr) << row.key;
        EXPECT_EQ(binding->command, row.command) << row.key;
        EXPECT_EQ(binding->onlyInFullScreen, row.key == Qt::Key_Escape) << row.key;
    }
}

TEST(KeyTable, UnboundKeysAndPrintAndWebsiteHaveNoBinding) {
    for (int key :
         {Qt::Key_Space, Qt::Key_Shift, Qt::Key_Control, Qt::Key_Return, Qt::Key_A, Qt::Key_Tab})
        EXPECT_EQ(findKeyBinding(key), nullptr) << key;
}

TEST(KeyTable, OnlySLeavesTheSlideshowRunning) {
    EXPECT_FALSE(keyStopsSlideshow(Qt::Key_S));
    for (int key : {Qt::Key_Right, Qt::Key_Space, Qt::Key_Shift, Qt::Key_Escape})
        EXPECT_TRUE(keyStopsSlideshow(key)) << key;
}

TEST(ContextMenu, ItemsTextsOrderAndSeparators) {
    const std::vector<std::pair<CommandId, std::string>> expected = {
        {ID_FULL_SCREEN_TOGGLE, "Full Screen Toggle  ( F )"},
        {ID_NONE, ""},
        {ID_ROTATE_LEFT, "Rotate Left  ( L )"},
        {ID_ROTATE_RIGHT, "Rotate Right  ( R )"},
        {ID_NONE, ""},
        {ID_NEXT, "Next  ( Right )"},
        {ID_PREVIOUS, "Previous  ( Left )"},
        {ID_NONE, ""},
        {ID_ZOOM_IN, "Zoom In  ( Up )"},
        {ID_ZOOM_OUT, "Zoom Out  ( Down )"},
        {ID_NONE, ""},
        {ID_DELETE, "Delete  ( del )"},
        {ID_OPEN_WITH, "Open With...  ( O )"},
        {ID_NONE, ""},
        {ID_SLIDESHOW_TOGGLE, "Slideshow Toggle ( S )"},
        {ID_BG_COLOR_TOGGLE, "BG Color Toggle  ( C )"},
        {ID_NONE, ""},
        {ID_PROPERTIES, "Properties  ( P )"},
        {ID_PRINT, "Print"},
        {ID_NONE, ""},
        {ID_WEBSITE, "Website"},
        {ID_NONE, ""},
        {ID_ABOUT, " &About Quillmere..."},
    };
    const auto items = contextMenuItems();
    ASSERT_EQ(items.size(), expected.size());
    for (size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(items[i].command, expected[i].first) << i;
        EXPECT_EQ(items[i].text ? std::string(items[i].text) : std::string(), expected[i].second)
            << i;
    }
}

// Records the operations a dispatch runs.
struct RecordingTarget : CommandTarget {
    std::vector<std::string> ran;
    void toggleFullScreen() override { ran.emplace_back("toggleFullScreen"); }
    void rotateLeft() override { ran.emplace_back("rotateLeft"); }
    void rotateRight() override { ran.emplace_back("rotateRight"); }
    void showNext() override { ran.emplace_back("showNext"); }
    void showPrevious() override { ran.emplace_back("showPrevious"); }
    void zoomIn() override { ran.emplace_back("zoomIn"); }
    void zoomOut() override { ran.emplace_back("zoomOut"); }
    void deleteCurrentPicture() override { ran.emplace_back("deleteCurrentPicture"); }
    void openWith() override { ran.emplace_back("openWith"); }
    void toggleSlideshow() override { ran.emplace_back("toggleSlideshow"); }
    void toggleBackground() override { ran.emplace_back("toggleBackground"); }
    void showProperties() override { ran.emplace_back("showProperties"); }
    void printPicture() override { ran.emplace_back("printPicture"); }
    void openWebSite() override { ran.emplace_back("openWebSite"); }
    void showAbout() override { ran.emplace_back("showAbout"); }
};

TEST(CommandTable, EachCommandRunsItsOwnOperationOnce) {
    const std::vector<std::pair<CommandId, std::string>> expected = {
        {ID_FULL_SCREEN_TOGGLE, "toggleFullScreen"},
        {ID_ROTATE_LEFT, "rotateLeft"},
        {ID_ROTATE_RIGHT, "rotateRight"},
        {ID_NEXT, "showNext"},
        {ID_PREVIOUS, "showPrevious"},
        {ID_ZOOM_IN, "zoomIn"},
        {ID_ZOOM_OUT, "zoomOut"},
        {ID_DELETE, "deleteCurrentPicture"},
        {ID_OPEN_WITH, "openWith"},
        {ID_SLIDESHOW_TOGGLE, "toggleSlideshow"},
        {ID_BG_COLOR_TOGGLE, "toggleBackground"},
        {ID_PROPERTIES, "showProperties"},
        {ID_PRINT, "printPicture"},
        {ID_WEBSITE, "openWebSite"},
        {ID_ABOUT, "showAbout"},
    };
    for (const auto& [id, operation] : expected) {
        RecordingTarget target;
        dispatchCommand(target, id);
        EXPECT_EQ(target.ran, std::vector<std::string>{operation}) << id;
    }
    RecordingTarget target;
    dispatchCommand(target, ID_NONE);
    dispatchCommand(target, static_cast<CommandId>(IDR_CONTEXT_MENU));
    EXPECT_TRUE(target.ran.empty());
}

TEST(CommandIds, ValuesMatchTheMenuResource) {
    EXPECT_EQ(ID_FULL_SCREEN_TOGGLE, 32776);
    EXPECT_EQ(ID_DELETE, 32777);
    EXPECT_EQ(ID_SLIDESHOW_TOGGLE, 32785);
    EXPECT_EQ(ID_BG_COLOR_TOGGLE, 32786);
    EXPECT_EQ(ID_PROPERTIES, 32792);
    EXPECT_EQ(ID_WEBSITE, 32795);
    EXPECT_EQ(ID_PRINT, 32796);
    EXPECT_EQ(IDR_CONTEXT_MENU, 130);
}

// Which key a press is bound by, under the layouts people use.
TEST(BindingKey, LettersOfOtherScriptsStandForTheUsLetterAtTheirPlace) {
    const struct {
        const char* trap;
        int key;
        std::optional<char> usLetter;
        int bound;
    } rows[] = {
        {"cyrillic_a_on_the_f_key", 0x0410, 'F', Qt::Key_F},
        {"greek_phi_on_the_f_key", 0x03A6, 'F', Qt::Key_F},
        {"hebrew_kaf_on_the_f_key", 0x05DB, 'F', Qt::Key_F},
        {"arabic_beh_on_the_f_key", 0x0628, 'F', Qt::Key_F},
        {"azerty_a_stays_a", Qt::Key_A, 'Q', Qt::Key_A},
        {"dvorak_u_on_the_f_key_stays_u", Qt::Key_U, 'F', Qt::Key_U},
        {"latin_accented_stays", 0x00C9, 'F', 0x00C9},
        {"arrows_never_move", Qt::Key_Right, std::nullopt, Qt::Key_Right},
        {"unknown_place_keeps_the_key", 0x0410, std::nullopt, 0x0410},
    };
    for (const auto& row : rows)
        EXPECT_EQ(bindingKey(row.key, row.usLetter), row.bound) << row.trap;
}

}  // namespace
