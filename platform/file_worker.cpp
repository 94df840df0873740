#include "platform/file_worker.h"

#include "platform/thread_priority.h"

FileWorker::FileWorker() : thread_([this] { run(); }) {}

FileWorker::~FileWorker() {
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
        tasks_.clear();
    }
    wake_.notify_one();
    thread_.join();
}

void FileWorker::post(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    wake_.notify_one();
}

void FileWorker::run() {
    lowerThisThreadsPriority();
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return ending_ || !tasks_.empty(); });
        if (ending_)
            return;
        std::function<void()> task = std::move(tasks_.front());
        tasks_.pop_front();
        lock.unlock();
        task();
        lock.lock();
    }
}
