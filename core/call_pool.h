// A few threads that make file-system calls side by side, for file systems where each call
// waits a round trip on the network (a share): there, calls in flight together take little
// longer than one. Calls start in the order given, at most `Threads()` at once.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

namespace lorvex {

class CallPool {
public:
    explicit CallPool(std::size_t threads);
    CallPool(const CallPool&) = delete;
    CallPool& operator=(const CallPool&) = delete;
    // Stops, and waits for the calls in flight.
    ~CallPool();

    // Starts `call` as soon as a thread is free. Its future holds what it returned; a call
    // the pool never started leaves it broken (see Result).
    template <class Call>
    std::future<std::invoke_result_t<Call>> Start(Call call) {
        auto task =
            std::make_shared<std::packaged_task<std::invoke_result_t<Call>()>>(std::move(call));
        auto future = task->get_future();
        {
            const std::lock_guard lock(mutex_);
            if (!stopped_) {
                waiting_.emplace_back([task] { (*task)(); });
            }
        }  // a stopped pool drops the task here, which breaks its future
        ready_.notify_one();
        return future;
    }

    // What a started call returned, waiting for it; nothing when it was never started.
    template <class Value>
    static std::optional<Value> Result(std::future<Value>& future) {
        try {
            return future.get();
        } catch (const std::future_error&) {
            return std::nullopt;
        }
    }

    // Runs `call(i)` for each i below `count`, side by side, and waits for all: what each
    // returned, nothing for those a stop kept from starting.
    template <class Call>
    auto Each(std::size_t count, const Call& call)
        -> std::vector<std::optional<std::invoke_result_t<Call, std::size_t>>> {
        std::vector<std::future<std::invoke_result_t<Call, std::size_t>>> futures;
        futures.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            futures.push_back(Start([&call, i] { return call(i); }));
        }
        std::vector<std::optional<std::invoke_result_t<Call, std::size_t>>> results;
        results.reserve(count);
        for (auto& future : futures) {
            results.push_back(Result(future));
        }
        return results;
    }

    // No call still waiting starts, now or later; those in flight go on.
    void Stop();
    bool Stopped() const;
    std::size_t Threads() const { return threads_.size(); }

private:
    void Work();

    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> waiting_;
    bool stopped_ = false;
    bool ending_ = false;
    std::vector<std::thread> threads_;
};

// Calls at once on a share: links, removals and look-ups of one folder wait on one another
// there, and eight in flight took the most off a run (docs/performance.md).
inline constexpr std::size_t kCallsInFlightOnAShare = 8;

// Each call(i) below `count`: side by side through `pool`, or one after the other here when
// there is none. Nothing for a call a stop of the pool kept from starting.
template <class Call>
auto EachOf(CallPool* pool, std::size_t count, const Call& call)
    -> std::vector<std::optional<std::invoke_result_t<Call, std::size_t>>> {
    if (pool) {
        return pool->Each(count, call);
    }
    std::vector<std::optional<std::invoke_result_t<Call, std::size_t>>> results;
    results.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        results.emplace_back(call(i));
    }
    return results;
}

// As EachOf, a call a stop kept from starting made here after all.
template <class Call>
auto AllOf(CallPool* pool, std::size_t count, const Call& call)
    -> std::vector<std::invoke_result_t<Call, std::size_t>> {
    auto started = EachOf(pool, count, call);
    std::vector<std::invoke_result_t<Call, std::size_t>> results;
    results.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        results.push_back(started[i] ? std::move(*started[i]) : call(i));
    }
    return results;
}

}  // namespace lorvex
