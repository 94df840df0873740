#include "platform/off_thread.h"

#include <QCoreApplication>
#include <QEvent>
#include <QObject>

#include <memory>
#include <mutex>

#include "platform/file_worker.h"

namespace {

const QEvent::Type kDone = static_cast<QEvent::Type>(QEvent::registerEventType());

class Handoff;

struct Shared {
    std::mutex mutex;
    Handoff* receiver = nullptr;  // none once context has gone
    Then then;
};

// Lives with context on its thread, and goes once it has run what the work returned.
class Handoff : public QObject {
  public:
    Handoff(QObject* context, std::shared_ptr<Shared> shared)
        : QObject(context), shared_(std::move(shared)) {
        std::lock_guard lock(shared_->mutex);
        shared_->receiver = this;
    }
    ~Handoff() override {
        std::lock_guard lock(shared_->mutex);
        shared_->receiver = nullptr;
    }
    Handoff(const Handoff&) = delete;
    Handoff& operator=(const Handoff&) = delete;

  protected:
    // The lock is taken before the event is looked at: it was posted under it.
    bool event(QEvent* event) override {
        std::unique_lock lock(shared_->mutex);
        if (event->type() != kDone) {
            lock.unlock();
            return QObject::event(event);
        }
        Then then = std::move(shared_->then);
        lock.unlock();
        deleteLater();
        if (then)
            then();
        return true;
    }

  private:
    std::shared_ptr<Shared> shared_;
};

FileWorker& worker() {
    static FileWorker files;
    return files;
}

}  // namespace

void offThread(QObject* context, std::function<Then()> work) {
    auto shared = std::make_shared<Shared>();
    new Handoff(context, shared);
    worker().post([shared, work = std::move(work)] {
        Then then = work();
        std::lock_guard lock(shared->mutex);
        shared->then = std::move(then);
        if (shared->receiver)
            QCoreApplication::postEvent(shared->receiver, new QEvent(kDone));
    });
}
