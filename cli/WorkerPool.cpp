#include "cli/WorkerPool.h"

#include <chrono>
#include <new>
#include <system_error>

WorkerPool::WorkerPool(std::vector<Job>& jobs, std::function<void(Job&)> convert)
    : jobs(jobs), convert(std::move(convert)) {}

WorkerPool::~WorkerPool() {
    for (std::thread& t : threads) t.join();
}

unsigned WorkerPool::Start(unsigned count) {
    // A process or memory limit may let fewer threads start, or none: the run goes on with
    // those, or on the caller's thread alone.
    try {
        threads.reserve(count);
        for (unsigned t = 0; t < count; ++t) threads.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
    } catch (const std::bad_alloc&) {
    }
    return unsigned(threads.size());
}

void WorkerPool::ConvertSafely(Job& job) {
    try {
        convert(job);
    } catch (const std::bad_alloc&) {
        job.result = Result::OutOfMemory;
    }
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
        // The worker fills its own copy; the list is shared.
        Job result;
        try {
            result = jobs[i];
        } catch (const std::bad_alloc&) {
            std::lock_guard<std::mutex> lock(mutex);
            jobs[i].result = Result::OutOfMemory;
            jobs[i].done = true;
            finished.notify_all();
            continue;
        }
        ConvertSafely(result);
        {
            std::lock_guard<std::mutex> lock(mutex);
            result.done = true;
            jobs[i] = std::move(result);
        }
        finished.notify_all();
    }
}

Job WorkerPool::Await(size_t i, const std::function<void()>& waiting) {
    if (threads.empty()) {
        if (jobs[i].result == Result::Pending && !jobs[i].done) {
            started = i;
            next = i + 1;
            ConvertSafely(jobs[i]);
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
