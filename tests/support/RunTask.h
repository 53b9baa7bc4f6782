#pragma once

#include <QCoro/QCoroTask>

#include <exception>
#include <optional>
#include <type_traits>
#include <variant>

namespace orvane::test {

namespace detail {
template <typename T>
struct Outcome {
    std::optional<T> value;
    std::exception_ptr error;
};
template <>
struct Outcome<void> {
    std::exception_ptr error;
};

// QCoro::waitFor hangs when the awaited task throws; catch inside a wrapper instead.
template <typename T>
QCoro::Task<Outcome<T>> capture(QCoro::Task<T> task) {
    Outcome<T> out;
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(task);
        } else {
            out.value.emplace(co_await std::move(task));
        }
    } catch (...) {
        out.error = std::current_exception();
    }
    co_return out;
}
} // namespace detail

// Runs a task to completion on a nested event loop and returns its value, rethrowing
// whatever the task threw. For tests only.
template <typename T>
T runTask(QCoro::Task<T> task) {
    auto outcome = QCoro::waitFor(detail::capture(std::move(task)));
    if (outcome.error) {
        std::rethrow_exception(outcome.error);
    }
    if constexpr (!std::is_void_v<T>) {
        return std::move(*outcome.value);
    }
}

} // namespace orvane::test
