#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "catalogue/folder_scan.h"
#include "catalogue/natural_order.h"
#include "catalogue/picture_list.h"

namespace fs = std::filesystem;

namespace {

constexpr int kPictures = 10000;
constexpr int kHugePictures = 100000;

// A folder of camera-style picture names and a few other files, made once per run.
class LargeFolder {
  public:
    explicit LargeFolder(int pictures = kPictures)
        : path_(fs::temp_directory_path() /
                ("quillmere_bench_" + std::to_string(::getpid()) + "_" + std::to_string(pictures))),
          pictures_(pictures) {
        fs::create_directories(path_);
        for (int i = 1; i <= pictures; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "IMG_%04d.jpg", i);
            std::ofstream(path_ / name);
        }
        for (const char* other : {"notes.txt", "thumbs.db", "desktop.ini", "movie.mp4"})
            std::ofstream(path_ / other);
    }
    ~LargeFolder() {
        std::error_code error;
        fs::remove_all(path_, error);
    }
    const fs::path& path() const { return path_; }
    fs::path middlePicture() const {
        char name[32];
        std::snprintf(name, sizeof name, "IMG_%04d.jpg", pictures_ / 2);
        return path_ / name;
    }

  private:
    fs::path path_;
    int pictures_;
};

const LargeFolder& largeFolder() {
    static const LargeFolder folder;
    return folder;
}

// 100,000 names: the scan, the natural sort and the search for the requested one must stay
// within 60 ms on a two-core machine, since the window shows nothing until they are done.
const LargeFolder& hugeFolder() {
    static const LargeFolder folder(kHugePictures);
    return folder;
}

void BM_OpenPictureScanAndSort(benchmark::State& state) {
    const LargeFolder& folder = largeFolder();
    for (auto _ : state) {
        PictureListState list;
        openPicture(list, folder.middlePicture(), folder.path());
        benchmark::DoNotOptimize(list.currentIndex);
    }
}
BENCHMARK(BM_OpenPictureScanAndSort)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(10)
    ->ReportAggregatesOnly(true);

void BM_OpenPictureScanAndSort100k(benchmark::State& state) {
    const LargeFolder& folder = hugeFolder();
    for (auto _ : state) {
        PictureListState list;
        openPicture(list, folder.middlePicture(), folder.path());
        benchmark::DoNotOptimize(list.currentIndex);
    }
}
BENCHMARK(BM_OpenPictureScanAndSort100k)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// The open without its paths: one read of the folder, its names filtered and sorted. The
// rest of an open is making and freeing the list's std::filesystem::path entries.
void BM_ListAndOrder100k(benchmark::State& state) {
    const LargeFolder& folder = hugeFolder();
    for (auto _ : state) {
        const FolderListing listing = listPictureFiles(folder.path());
        const std::vector<uint32_t> order =
            naturalOrder(listing.size(), [&](size_t i) { return listing.name(i); });
        benchmark::DoNotOptimize(order.data());
    }
}
BENCHMARK(BM_ListAndOrder100k)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_ScanOnly100k(benchmark::State& state) {
    const LargeFolder& folder = hugeFolder();
    for (auto _ : state) {
        PictureListState list;
        list.requestedPath = " ";
        scanFolder(list, folder.path(), scanUntilRequested);
        benchmark::DoNotOptimize(list.pictureList.data());
    }
}
BENCHMARK(BM_ScanOnly100k)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// Sorts the listing of folder from a fresh shuffle each iteration; the shuffle isn't timed.
void sortShuffled(benchmark::State& state, const std::filesystem::path& folder) {
    PictureListState list;
    list.requestedPath = " ";
    scanFolder(list, folder, scanUntilRequested);
    std::mt19937 shuffler(7);
    for (auto _ : state) {
        state.PauseTiming();
        std::shuffle(list.pictureList.begin(), list.pictureList.end(), shuffler);
        state.ResumeTiming();
        sortPictureList(list);
        benchmark::DoNotOptimize(list.pictureList.data());
    }
}

void BM_SortPictureList100k(benchmark::State& state) {
    sortShuffled(state, hugeFolder().path());
}
BENCHMARK(BM_SortPictureList100k)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// The same shuffles sorted by comparing the paths directly, as the list was sorted before it
// had keys: the keyed sort's reference in the same run.
void BM_SortByComparison100k(benchmark::State& state) {
    PictureListState list;
    list.requestedPath = " ";
    scanFolder(list, hugeFolder().path(), scanUntilRequested);
    std::mt19937 shuffler(7);
    for (auto _ : state) {
        state.PauseTiming();
        std::shuffle(list.pictureList.begin(), list.pictureList.end(), shuffler);
        state.ResumeTiming();
        std::sort(list.pictureList.begin(), list.pictureList.end(), pathLessNatural);
        benchmark::DoNotOptimize(list.pictureList.data());
    }
}
BENCHMARK(BM_SortByComparison100k)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

void BM_SortPictureList(benchmark::State& state) {
    sortShuffled(state, largeFolder().path());
}
BENCHMARK(BM_SortPictureList)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(10)
    ->ReportAggregatesOnly(true);

}  // namespace
