#pragma once

#include <QEventLoop>
#include <QMetaObject>

#include <exception>
#include <optional>
#include <thread>
#include <type_traits>

namespace orv::app {

// Runs blocking work (a connection attempt may wait 15 s for a silent server) on a worker
// thread while the windows go on repainting. User input waits until the work is done, so no
// handler runs twice at once.
template <class Work> auto runWithoutFreezing(Work work) -> std::invoke_result_t<Work> {
    using Result = std::invoke_result_t<Work>;
    QEventLoop loop;
    std::exception_ptr error;
    std::conditional_t<std::is_void_v<Result>, bool, std::optional<Result>> result{};
    std::thread worker([&] {
        try {
            if constexpr (std::is_void_v<Result>)
                work();
            else
                result = work();
        } catch (...) {
            error = std::current_exception();
        }
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
    if (error)
        std::rethrow_exception(error);
    if constexpr (!std::is_void_v<Result>)
        return std::move(*result);
}

} // namespace orv::app
