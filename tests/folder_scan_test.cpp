#include "catalogue/folder_scan.h"

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "catalogue/picture_extensions.h"
#include "catalogue/picture_list.h"

namespace fs = std::filesystem;

namespace {

// A fresh folder under the system's temporary folder, removed with its contents.
class ScratchFolder {
  public:
    ScratchFolder() {
        static int counter = 0;
        path_ = fs::temp_directory_path() / ("quillmere_catalogue_" + std::to_string(::getpid()) +
                                             "_" + std::to_string(counter++));
        fs::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code error;
        // A folder a test made unreadable must be readable again to be removed.
        for (auto it = fs::recursive_directory_iterator(path_, error);
             !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
            if (it->is_directory(error) && !it->is_symlink(error))
                fs::permissions(it->path(), fs::perms::owner_all, error);
        }
        fs::remove_all(path_, error);
    }
    const fs::path& path() const { return path_; }
    fs::path touch(const std::string& relative) const {
        fs::path file = path_ / relative;
        fs::create_directories(file.parent_path());
        std::ofstream(file) << "x";
        return file;
    }

  private:
    fs::path path_;
};

// Restores the current directory when a test that changed it ends, even by failing.
class CurrentDirectory {
  public:
    explicit CurrentDirectory(const fs::path& directory) : saved_(fs::current_path()) {
        fs::current_path(directory);
    }
    ~CurrentDirectory() {
        std::error_code error;
        fs::current_path(saved_, error);
    }

  private:
    fs::path saved_;
};

std::set<std::string> namesOf(const PictureListState& list) {
    std::set<std::string> names;
    for (const auto& path : list.pictureList)
        names.insert(path.filename().native());
    return names;
}

std::vector<std::string> orderedNames(const PictureListState& list) {
    std::vector<std::string> names;
    for (const auto& path : list.pictureList)
        names.push_back(path.filename().native());
    return names;
}

std::string currentName(const PictureListState& list) {
    const fs::path* path = currentPath(list);
    return path ? path->filename().native() : std::string("<none>");
}

PictureListState openedWith(std::optional<fs::path> requested, const fs::path& programFolder = {}) {
    PictureListState list;
    openPicture(list, std::move(requested), programFolder);
    return list;
}

TEST(IsPicturePath, SubstringWithExactCase) {
    const std::vector<std::pair<std::string, bool>> rows = {{"/p/photo.jpg", true},
                                                            {"/p/photo.JPG", true},
                                                            {"/p/photo.Jpg", false},
                                                            {"/p/notes.jpg.txt", true},
                                                            {"/p/scan.tiff", true},
                                                            {"/p/x.jpeg", true},
                                                            {"/p/set.png/readme", true},
                                                            {"/p/a.J2K", true},
                                                            {"/p/readme.txt", false},
                                                            {"/p/tail.pn", false},
                                                            {"/p/dots...", false},
                                                            {"/p/jpg", false},
                                                            {"", false},
                                                            {"/p/a.tIf", false},
                                                            {"/p/.MJ2", true}};
    for (const auto& [path, picture] : rows)
        EXPECT_EQ(isPicturePath(fs::path(path)), picture) << path;
}

TEST(ScanFolder, ListsPictureFilesOnly) {
    ScratchFolder folder;
    for (const char* name : {"photo.jpg", "photo.JPG", "photo.Jpg", "notes.jpg.txt", "scan.tiff",
                             "x.jpeg", "readme.txt", ".h.png", "more.jpg/inner.jpg"})
        folder.touch(name);
    fs::create_directory_symlink(folder.path() / "more.jpg", folder.path() / "linked.jpg");
    fs::create_symlink(folder.path() / "gone", folder.path() / "broken.png");

    PictureListState list;
    list.requestedPath = " ";
    scanFolder(list, folder.path(), scanUntilRequested);
    EXPECT_EQ(namesOf(list),
              (std::set<std::string>{"photo.jpg", "photo.JPG", "notes.jpg.txt", "scan.tiff",
                                     "x.jpeg", ".h.png", "broken.png"}));
    for (const auto& path : list.pictureList)
        EXPECT_EQ(path.parent_path(), folder.path());
}

TEST(ScanFolder, FolderNameMakesEveryFileAPicture) {
    ScratchFolder folder;
    folder.touch("set.png/readme.txt");
    folder.touch("set.png/data");
    const PictureListState list = openedWith(folder.path() / "set.png" / "data");
    EXPECT_EQ(namesOf(list), (std::set<std::string>{"readme.txt", "data"}));
    EXPECT_EQ(currentName(list), "data");
}

TEST(ScanFolder, ModesEmptyOrAppend) {
    ScratchFolder folder;
    folder.touch("a.jpg");
    folder.touch("b.jpg");
    PictureListState list;
    list.pictureList = {"/elsewhere/old.jpg"};
    list.requestedPath = folder.path() / "missing.jpg";
    scanFolder(list, folder.path(), scanUntilRequested);
    EXPECT_EQ(list.pictureList.size(), 3u);
    scanFolder(list, folder.path(), scanFromRequested);
    EXPECT_TRUE(list.pictureList.empty());
}

// Whatever the listing order, the two passes list each picture once and the requested one
// is current after sorting.
TEST(OpenPicture, EveryRequestedPictureBecomesCurrent) {
    ScratchFolder folder;
    const std::vector<std::string> natural = {"b1.jpg", "b2.jpg", "b10.jpg", "B20.jpg", "c.jpg"};
    for (const auto& name : natural)
        folder.touch(name);
    folder.touch("notes.txt");
    for (size_t i = 0; i < natural.size(); ++i) {
        const PictureListState list = openedWith(folder.path() / natural[i]);
        EXPECT_EQ(orderedNames(list), natural);
        EXPECT_EQ(list.currentIndex, static_cast<int32_t>(i)) << natural[i];
    }
    const PictureListState notPicture = openedWith(folder.path() / "notes.txt");
    EXPECT_EQ(orderedNames(notPicture), natural);
    EXPECT_EQ(notPicture.currentIndex, 0);
}

// The folder's own openings, as inotify reports them; an open that lists the folder twice
// doubles its cost in a folder of many thousands.
int folderOpenings(const fs::path& folder, const std::function<void()>& action) {
    const int events = ::inotify_init1(IN_NONBLOCK);
    // Closes are watched too: inotify merges an event into an identical unread one before it.
    ::inotify_add_watch(events, folder.c_str(), IN_OPEN | IN_CLOSE_NOWRITE);
    action();
    int openings = 0;
    alignas(inotify_event) char buffer[4096];
    for (ssize_t got; (got = ::read(events, buffer, sizeof buffer)) > 0;) {
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            openings += event->len == 0 && (event->mask & IN_OPEN) != 0 ? 1 : 0;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    ::close(events);
    return openings;
}

TEST(OpenPicture, ReadsTheFolderOnce) {
    ScratchFolder folder;
    folder.touch("a.jpg");
    folder.touch("b.jpg");
    for (const char* requested : {"a.jpg", "b.jpg", "missing.jpg"}) {
        EXPECT_EQ(folderOpenings(folder.path(), [&] { openedWith(folder.path() / requested); }), 1)
            << requested;
    }
    EXPECT_EQ(folderOpenings(folder.path(), [&] { openedWith(std::nullopt, folder.path()); }), 1);
}

TEST(OpenPicture, NamesDifferingInCaseAreBothListed) {
    ScratchFolder folder;
    folder.touch("a.jpg");
    folder.touch("A.jpg");
    for (const char* name : {"A.jpg", "a.jpg"}) {
        const PictureListState list = openedWith(folder.path() / name);
        EXPECT_EQ(orderedNames(list), (std::vector<std::string>{"A.jpg", "a.jpg"}));
        EXPECT_EQ(currentName(list), name);
    }
}

TEST(OpenPicture, RelativeFormsFindTheirPicture) {
    ScratchFolder folder;
    folder.touch("pics/a.jpg");
    folder.touch("pics/b.jpg");
    fs::create_directory(folder.path() / "sub");
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"", "pics/b.jpg"},  {"sub", "../pics/b.jpg"}, {"pics", "b.jpg"},
        {"pics", "./b.jpg"}, {"", "pics//b.jpg"},      {"pics", ""}};
    for (const auto& [directory, argument] : rows) {
        CurrentDirectory inside(folder.path() / directory);
        const PictureListState list = openedWith(fs::path(argument));
        EXPECT_EQ(orderedNames(list), (std::vector<std::string>{"a.jpg", "b.jpg"})) << argument;
        EXPECT_EQ(currentName(list), argument.empty() ? "a.jpg" : "b.jpg") << argument;
    }
}

TEST(OpenPicture, NonUtf8NamesAreListedAndFound) {
    ScratchFolder folder;
    const std::string odd = "bad\xFF\xC3.jpg";
    folder.touch(odd);
    folder.touch("a.jpg");
    const PictureListState list = openedWith(folder.path() / odd);
    EXPECT_EQ(orderedNames(list), (std::vector<std::string>{"a.jpg", odd}));
    EXPECT_EQ(currentName(list), odd);
    EXPECT_EQ(titleFileName(*currentPath(list)), "bad\xEF\xBF\xBD\xEF\xBF\xBD.jpg");
}

TEST(OpenPicture, DirectoryArgumentListsItsParent) {
    ScratchFolder folder;
    folder.touch("top.jpg");
    folder.touch("inner.jpg/deep.jpg");
    const PictureListState named = openedWith(folder.path() / "inner.jpg");
    EXPECT_EQ(orderedNames(named), (std::vector<std::string>{"top.jpg"}));
    EXPECT_EQ(named.currentIndex, 0);
    const PictureListState slashed = openedWith(folder.path() / "inner.jpg" / "");
    EXPECT_EQ(orderedNames(slashed), (std::vector<std::string>{"deep.jpg"}));
}

TEST(OpenPicture, UnlistableFoldersGiveEmptyList) {
    ScratchFolder folder;
    EXPECT_TRUE(openedWith(folder.path() / "missing" / "x.jpg").pictureList.empty());
    EXPECT_TRUE(openedWith(folder.path() / "x.jpg").pictureList.empty());
    EXPECT_TRUE(openedWith(std::nullopt, folder.path() / "missing").pictureList.empty());
    folder.touch("shut/a.jpg");
    fs::permissions(folder.path() / "shut", fs::perms::none);
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions don't deny the superuser";
    EXPECT_TRUE(openedWith(folder.path() / "shut" / "a.jpg").pictureList.empty());
}

TEST(OpenPicture, WithoutPathListsProgramFolderAndReplacesList) {
    ScratchFolder folder;
    folder.touch("prog/b.jpg");
    folder.touch("prog/a.png");
    folder.touch("other/z.jpg");
    PictureListState list = openedWith(folder.path() / "other" / "z.jpg");
    list.currentIndex = 0;
    openPicture(list, std::nullopt, folder.path() / "prog");
    openPicture(list, std::nullopt, folder.path() / "prog");
    EXPECT_EQ(list.requestedPath, " ");
    EXPECT_EQ(orderedNames(list), (std::vector<std::string>{"a.png", "b.jpg"}));
    EXPECT_EQ(currentName(list), "a.png");
}

}  // namespace
