#include "call_pool.h"

namespace lorvex {

CallPool::CallPool(std::size_t threads) {
    threads_.reserve(threads);
    for (std::size_t i = 0; i < threads; ++i) {
        threads_.emplace_back([this] { Work(); });
    }
}

CallPool::~CallPool() {
    Stop();
    {
        const std::lock_guard lock(mutex_);
        ending_ = true;
    }
    ready_.notify_all();
    for (auto& thread : threads_) {
        thread.join();
    }
}

void CallPool::Stop() {
    std::deque<std::function<void()>> dropped;
    {
        const std::lock_guard lock(mutex_);
        stopped_ = true;
        dropped.swap(waiting_);
    }  // their futures break outside the lock
}

bool CallPool::Stopped() const {
    const std::lock_guard lock(mutex_);
    return stopped_;
}

void CallPool::Work() {
    for (;;) {
        std::function<void()> call;
        {
            std::unique_lock lock(mutex_);
            ready_.wait(lock, [this] { return ending_ || !waiting_.empty(); });
            if (waiting_.empty()) {
                return;
            }
            call = std::move(waiting_.front());
            waiting_.pop_front();
        }
        call();
    }
}

}  // namespace lorvex
