#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <system_error>

#include "catalogue/folder_scan.h"
#include "catalogue/picture_list.h"

namespace fs = std::filesystem;

namespace {

constexpr int kPictures = 10000;

// A folder of 10,000 camera-style picture names and a few other files, made once per run.
class LargeFolder {
  public:
    LargeFolder()
        : path_(fs::temp_directory_path() / ("quillmere_bench_" + std::to_string(::getpid()))) {
        fs::create_directories(path_);
        for (int i = 1; i <= kPictures; ++i) {
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
    fs::path middlePicture() const { return path_ / "IMG_5000.jpg"; }

  private:
    fs::path path_;
};

const LargeFolder& largeFolder() {
    static const LargeFolder folder;
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

void BM_SortPictureList(benchmark::State& state) {
    PictureListState list;
    list.requestedPath = " ";
    scanFolder(list, largeFolder().path(), scanUntilRequested);
    std::mt19937 shuffler(7);
    for (auto _ : state) {
        state.PauseTiming();
        std::shuffle(list.pictureList.begin(), list.pictureList.end(), shuffler);
        state.ResumeTiming();
        sortPictureList(list);
        benchmark::DoNotOptimize(list.pictureList.data());
    }
}
BENCHMARK(BM_SortPictureList)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(10)
    ->ReportAggregatesOnly(true);

}  // namespace
