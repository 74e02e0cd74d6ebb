#include "cli/WorkerPool.h"

#include <chrono>

WorkerPool::WorkerPool(std::vector<Job>& jobs, std::function<void(Job&)> convert)
    : jobs(jobs), convert(std::move(convert)) {}

WorkerPool::~WorkerPool() {
    for (std::thread& t : threads) t.join();
}

unsigned WorkerPool::Start(unsigned count) {
    for (unsigned t = 0; t < count; ++t) threads.emplace_back([this] { Work(); });
    return unsigned(threads.size());
}

size_t WorkerPool::NextPending() {
    while (next < jobs.size() && jobs[next].result != Result::Pending) ++next;
    return next;
}

void WorkerPool::Work() {
    for (;;) {
        size_t i;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (NextPending() >= jobs.size()) return;
            started = i = next++;
        }
        Job result = jobs[i];  // the worker fills its own copy; the list is shared
        convert(result);
        {
            std::lock_guard<std::mutex> lock(mutex);
            result.done = true;
            jobs[i] = result;
        }
        finished.notify_all();
    }
}

Job WorkerPool::Await(size_t i, const std::function<void()>& waiting) {
    if (threads.empty()) {
        if (jobs[i].result == Result::Pending && !jobs[i].done) {
            started = i;
            next = i + 1;
            convert(jobs[i]);
            jobs[i].done = true;
        }
        return jobs[i];
    }
    std::unique_lock<std::mutex> lock(mutex);
    auto ready = [&] { return jobs[i].result != Result::Pending || jobs[i].done; };
    while (!finished.wait_for(lock, std::chrono::milliseconds(100), ready)) {
        lock.unlock();
        waiting();
        lock.lock();
    }
    return jobs[i];
}

std::string WorkerPool::Current() {
    std::lock_guard<std::mutex> lock(mutex);
    if (threads.empty()) {
        const size_t pending = NextPending();
        return pending < jobs.size() ? jobs[pending].input : std::string();
    }
    return jobs[started].input;
}
