#include "jobs.h"

#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <filesystem>
#include <thread>
#include <unordered_map>
#include <vector>

namespace tplforge::cli {

namespace {

void write(std::FILE* stream, const std::string& text) {
    if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stream);
}

}  // namespace

std::vector<std::size_t> sameNameAsEarlier(const std::vector<std::string>& paths) {
    std::vector<std::size_t> earlier(paths.size(), kNoEarlier);
    std::unordered_map<std::string, std::size_t> first;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const auto [at, isNew] = first.try_emplace(std::filesystem::path(paths[i]).stem().string(), i);
        if (!isNew) earlier[i] = at->second;
    }
    return earlier;
}

void sameNameRefused(const std::string& path, const std::string& earlier, JobOutput& out) {
    out.err += path + ": its output would replace that of " + earlier + "; not written\n";
    out.failed = true;
}

void forEachOnThreads(std::size_t count, unsigned threads, const std::function<void(std::size_t)>& fn) {
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i; (i = next.fetch_add(1)) < count;) fn(i);
    };
    std::vector<std::jthread> pool;
    const std::size_t others = std::min<std::size_t>(std::max(1u, threads), count) - (count > 0 ? 1 : 0);
    for (std::size_t t = 0; t < others; ++t) pool.emplace_back(work);
    work();
}

bool runJobs(std::size_t count, unsigned threads, bool progress,
             const std::function<void(std::size_t, JobOutput&)>& job) {
    std::vector<JobOutput> outputs(count);
    std::vector<char> done(count, 0);
    std::mutex mutex;
    std::condition_variable finished;
    std::atomic<std::size_t> next{0};
    std::size_t completed = 0;
    progress = progress && count > 1 && ::isatty(STDERR_FILENO) == 1;

    auto work = [&] {
        for (std::size_t i; (i = next.fetch_add(1)) < count;) {
            JobOutput out;
            job(i, out);
            std::lock_guard lock(mutex);
            outputs[i] = std::move(out);
            done[i] = 1;
            ++completed;
            finished.notify_one();
        }
    };
    const unsigned workers = static_cast<unsigned>(std::min<std::size_t>(std::max(1u, threads), count));
    // This thread prints while the others work; a lone job runs right here.
    std::vector<std::jthread> pool;
    if (count > 1) {
        for (unsigned t = 0; t < workers; ++t) pool.emplace_back(work);
    } else {
        work();
    }

    bool anyFailed = false;
    std::size_t printed = 0;
    while (printed < count) {
        std::unique_lock lock(mutex);
        finished.wait(lock, [&] { return done[printed] != 0; });
        const std::size_t completedNow = completed;
        JobOutput out = std::move(outputs[printed]);
        lock.unlock();
        if (progress) std::fputs("\r\033[K", stderr);
        write(stdout, out.out);
        std::fflush(stdout);
        write(stderr, out.err);
        anyFailed = anyFailed || out.failed;
        ++printed;
        if (progress && printed < count) std::fprintf(stderr, "%zu/%zu files", completedNow, count);
        std::fflush(stderr);
    }
    return anyFailed;
}

}  // namespace tplforge::cli
