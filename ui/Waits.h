#pragma once

#include <QAbstractButton>

#include <chrono>
#include <exception>
#include <functional>
#include <optional>
#include <type_traits>
#include <vector>

class QEventLoop;

namespace orv::ui {

// Every wait of the windows. Blocking work (a connection attempt may wait 15 s for a silent
// server) runs on a worker thread while the windows go on repainting; long loops yield to the
// windows. While work runs, clicks on the windows' buttons are refused, so no handler ever runs
// inside another. Closing a window ends every wait and the program.
class Waits {
public:
    // Work that takes longer than this shows that the program is waiting.
    static constexpr std::chrono::milliseconds slowAfter{300};
    // A program told to end waits this long for running work to finish cleanly, then ends
    // without it.
    static constexpr std::chrono::seconds endingGrace{5};

    // The one instance the windows share.
    static Waits& instance();

    Waits(const Waits&) = delete;
    Waits& operator=(const Waits&) = delete;

    // Marks work as running for as long as it lives; work may hold several at once.
    class Working {
    public:
        explicit Working(Waits& waits) noexcept : waits_(waits) { ++waits_.working_; }
        ~Working() { --waits_.working_; }
        Working(const Working&) = delete;
        Working& operator=(const Working&) = delete;

    private:
        Waits& waits_;
    };

    bool busy() const noexcept { return working_ > 0; }

    // Runs the work on a worker thread while the windows repaint; user input waits until it is
    // done, and the clicks in it are refused. whenSlow runs once when the work takes longer than
    // slowAfter. When no thread can be started (a resource limit), the work runs here instead,
    // after whenSlow. The work's exception, if any, is thrown here.
    template <class Work>
    auto run(Work work, const std::function<void()>& whenSlow = {}) -> std::invoke_result_t<Work&> {
        using Result = std::invoke_result_t<Work&>;
        std::exception_ptr error;
        std::conditional_t<std::is_void_v<Result>, bool, std::optional<Result>> result{};
        wait(
            [&] {
                try {
                    if constexpr (std::is_void_v<Result>)
                        work();
                    else
                        result = work();
                } catch (...) {
                    error = std::current_exception();
                }
            },
            whenSlow);
        if (error)
            std::rethrow_exception(error);
        if constexpr (!std::is_void_v<Result>)
            return std::move(*result);
    }

    // Lets the windows handle what is pending during a long loop; false once the program is
    // ending, when the loop should stop.
    bool yield();

    // A window was closed: every wait ends, and so does the program.
    void endProgram();
    bool ending() const noexcept { return ending_; }

    // Back to the state of a fresh start, for the next test.
    void reset() noexcept;

private:
    Waits() = default;
    void wait(const std::function<void()>& job, const std::function<void()>& whenSlow);
    void runOffWindowThread(const std::function<void()>& job,
                            const std::function<void()>& whenSlow);

    int working_ = 0;
    bool ending_ = false;
    std::vector<QEventLoop*> loops_;
};

inline Waits& waits() {
    return Waits::instance();
}

// A click on the button runs the window's handler, unless work is running.
template <class Window>
void connectClick(QAbstractButton* button, Window* window, void (Window::*handler)()) {
    QObject::connect(button, &QAbstractButton::clicked, window, [window, handler] {
        if (!waits().busy())
            (window->*handler)();
    });
}

} // namespace orv::ui
