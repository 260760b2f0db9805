#include "ui/Waits.h"

#include "sys/Files.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <thread>

namespace orv::ui {

namespace {

// Set by the worker when its work is done; the window thread may wait for it with a limit.
class Done {
public:
    void set() {
        {
            const std::lock_guard lock(mutex_);
            done_ = true;
        }
        changed_.notify_all();
    }
    bool waitFor(std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [this] { return done_; });
    }
    void wait() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return done_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool done_ = false;
};

} // namespace

Waits& Waits::instance() {
    static Waits waits;
    return waits;
}

void Waits::wait(const std::function<void()>& job, const std::function<void()>& whenSlow) {
    const Working working(*this);
    runOffWindowThread(job, whenSlow);
    // Input held back meanwhile arrives while the work still counts as running: its clicks are
    // refused here rather than run once the work is over.
    if (!ending_)
        QCoreApplication::processEvents();
}

void Waits::runOffWindowThread(const std::function<void()>& job,
                               const std::function<void()>& whenSlow) {
    QEventLoop loop;
    Done done;
    std::thread worker;
    try {
        worker = std::thread([&] {
            job();
            done.set();
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
    } catch (const std::system_error&) {
        // No thread to be had: the windows cannot repaint meanwhile, so they show first what
        // they show for slow work.
        if (whenSlow)
            whenSlow();
        job();
        return;
    }
    QTimer slow;
    if (whenSlow) {
        slow.setSingleShot(true);
        QObject::connect(&slow, &QTimer::timeout, &loop, whenSlow);
        slow.start(slowAfter);
    }
    loops_.push_back(&loop);
    if (!ending_)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    loops_.pop_back();
    if (ending_) {
        // The work holds the caller's data; it cannot be left running while that goes away.
        // Work that does not finish in time (a pipe nobody reads) is abandoned with the process,
        // whose status says so; a half-written report goes with it.
        if (!done.waitFor(endingGrace)) {
            sys::removeTemporaryFiles();
            std::_Exit(EXIT_FAILURE);
        }
    } else {
        done.wait();
    }
    worker.join();
}

bool Waits::yield() {
    QCoreApplication::processEvents();
    return !ending_;
}

void Waits::endProgram() {
    ending_ = true;
    for (QEventLoop* loop : loops_)
        loop->quit();
    QCoreApplication::quit();
}

void Waits::reset() noexcept {
    ending_ = false;
}

} // namespace orv::ui
