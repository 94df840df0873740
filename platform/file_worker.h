#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// One thread that makes file-system calls for a thread that must never wait for them (the
// window's): tasks run one at a time, in the order they were posted. A task leaves its result
// in a structure of its poster's, under the poster's own lock. The thread yields the cores to
// the decoders: a listing may take as long as a decode, and the picture comes first.
class FileWorker {
  public:
    FileWorker();
    // Waits for the task under way; the tasks not begun are dropped.
    ~FileWorker();
    FileWorker(const FileWorker&) = delete;
    FileWorker& operator=(const FileWorker&) = delete;

    void post(std::function<void()> task);

  private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    bool ending_ = false;
    std::thread thread_;  // last: it starts once the rest is made
};
