#include "db/Deadline.h"

#include <atomic>

namespace orv::db {

namespace {
std::atomic<size_t> abandoned{0};
}

size_t abandonedWork() noexcept {
    return abandoned.load();
}

void detail::countAbandoned(int change) noexcept {
    abandoned += static_cast<size_t>(change);
}

} // namespace orv::db
