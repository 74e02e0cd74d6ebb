// WorkerPool.h: the threads that convert the jobs of a run while the caller takes each one, done,
// in the order of the inputs.
#pragma once
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "cli/Job.h"

class WorkerPool {
public:
    // convert runs on the pool's threads, each on a job of its own; the jobs not Pending are
    // left alone.
    WorkerPool(std::vector<Job>& jobs, std::function<void(Job&)> convert);
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;
    ~WorkerPool();  // waits for the threads

    // Starts up to count threads; how many started, which may be fewer, or none.
    unsigned Start(unsigned count);
    // Job i once it is done. Without threads it is converted here and now; with them, waiting is
    // called about ten times a second until it is done.
    Job Await(size_t i, const std::function<void()>& waiting);
    // The input being converted (the one begun last), or the next one to be.
    std::string Current();

private:
    void Work();
    void ConvertSafely(Job& job);  // running out of memory is the job's result
    size_t NextPending();          // with the lock held

    std::vector<Job>& jobs;
    const std::function<void(Job&)> convert;
    std::vector<std::thread> threads;
    std::mutex mutex;
    std::condition_variable finished;
    size_t next = 0;
    size_t started = 0;
};
