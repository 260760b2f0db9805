#pragma once

// Work that must end by a deadline though what it waits for may never answer: the driver's own
// time-outs start again on every byte, and a name lookup has none.

#include "db/Error.h"

#include <atomic>
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

// Waits at most `limit` for abandoned work to end, and returns how much still runs. Work that
// ended is joined here, so that nothing of its thread is left. For tests, and for a program
// that wants to end cleanly.
size_t waitForAbandonedWork(std::chrono::milliseconds limit);

namespace detail {
// Keeps the thread of abandoned work, to be joined once `ended` is set.
void abandon(std::thread thread, std::shared_ptr<const std::atomic<bool>> ended);
} // namespace detail

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
    auto ended = std::make_shared<std::atomic<bool>>(false);
    std::thread thread;
    try {
        thread = std::thread([state, job, ended] {
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
            } else {
                if (result)
                    state->result.emplace(std::move(*result));
                state->error = error;
                state->done = true;
                state->ended.notify_one();
                lock.unlock();
            }
            ended->store(true);
        });
    } catch (const std::system_error&) {
        return (*job)();
    }
    std::unique_lock lock(state->mutex);
    if (!state->ended.wait_for(lock, limit, [&state] { return state->done; })) {
        state->abandoned = true;
        lock.unlock();
        detail::abandon(std::move(thread), ended);
        throw late();
    }
    lock.unlock();
    // Joined, so that the thread's own data (OpenSSL's, the dynamic loader's) is gone with it.
    thread.join();
    if (state->error)
        std::rethrow_exception(state->error);
    return std::move(*state->result);
}

} // namespace orv::db
