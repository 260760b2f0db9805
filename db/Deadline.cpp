#include "db/Deadline.h"

#include <vector>

namespace orv::db {

namespace {

struct Abandoned {
    std::thread thread;
    std::shared_ptr<const std::atomic<bool>> ended;
};

// Never destroyed: abandoned work may still run when the program ends, and a thread object that
// still runs may not be destroyed.
struct Registry {
    std::mutex mutex;
    std::vector<Abandoned> work;

    // Joins the work that ended; the number still running.
    size_t joinEnded() {
        std::erase_if(work, [](Abandoned& abandoned) {
            if (!abandoned.ended->load())
                return false;
            abandoned.thread.join();
            return true;
        });
        return work.size();
    }
};

Registry& registry() {
    static Registry* const kept = new Registry;
    return *kept;
}

} // namespace

void detail::abandon(std::thread thread, std::shared_ptr<const std::atomic<bool>> ended) {
    Registry& kept = registry();
    std::lock_guard lock(kept.mutex);
    kept.joinEnded();
    kept.work.push_back({std::move(thread), std::move(ended)});
}

size_t waitForAbandonedWork(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        Registry& kept = registry();
        size_t running = 0;
        {
            std::lock_guard lock(kept.mutex);
            running = kept.joinEnded();
        }
        if (running == 0 || std::chrono::steady_clock::now() >= deadline)
            return running;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

} // namespace orv::db
