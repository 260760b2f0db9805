#pragma once

// Work that must end by a deadline though what it waits for may never answer: the driver's own
// time-outs start again on every byte, and a name lookup has none. Private to the db library.

#include "db/Error.h"

#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

namespace orv::db {

// Abandoned work that still runs. A program that ends may not wait for it.
size_t abandonedWork() noexcept;

namespace detail {
void countAbandoned(int change) noexcept;
}

// Runs work on a thread of its own and returns its result, or throws its exception. When it has
// not ended after `limit`, it is abandoned: it goes on alone and destroys its own result (the
// work must own everything it uses), and late() is thrown here. When no thread can be started
// (a resource limit), the work runs here, bounded only by its own time-outs.
template <class Result>
Result finishWithin(std::chrono::milliseconds limit, std::function<Result()> work,
                    const std::function<Error()>& late) {
    struct State {
        std::mutex mutex;
        std::condition_variable ended;
        bool done = false;
        bool abandoned = false;
        std::optional<Result> result;
        std::exception_ptr error;
    };
    auto state = std::make_shared<State>();
    auto job = std::make_shared<std::function<Result()>>(std::move(work));
    try {
        std::thread([state, job] {
            std::optional<Result> result;
            std::exception_ptr error;
            try {
                result.emplace((*job)());
            } catch (...) {
                error = std::current_exception();
            }
            std::unique_lock lock(state->mutex);
            if (state->abandoned) {
                lock.unlock();
                result.reset();
                detail::countAbandoned(-1);
                return;
            }
            if (result)
                state->result.emplace(std::move(*result));
            state->error = error;
            state->done = true;
            state->ended.notify_one();
        }).detach();
    } catch (const std::system_error&) {
        return (*job)();
    }
    std::unique_lock lock(state->mutex);
    if (!state->ended.wait_for(lock, limit, [&state] { return state->done; })) {
        state->abandoned = true;
        detail::countAbandoned(1);
        throw late();
    }
    if (state->error)
        std::rethrow_exception(state->error);
    return std::move(*state->result);
}

} // namespace orv::db
