// Runs independent jobs over several threads and reports them in input order:
// each job writes its messages into its own buffers, which are printed once every
// job before it has been printed. A progress line goes to stderr when it is a
// terminal.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace tplforge::cli {

struct JobOutput {
    std::string out;  // for stdout
    std::string err;  // for stderr
    bool failed = false;
};

// Calls job(i, output) for i in 0..count-1 on up to `threads` threads; returns
// whether any job failed.
bool runJobs(std::size_t count, unsigned threads, bool progress,
             const std::function<void(std::size_t, JobOutput&)>& job);

// fn(i) for i in 0..count-1 on up to `threads` threads, this one among them.
void forEachOnThreads(std::size_t count, unsigned threads, const std::function<void(std::size_t)>& fn);

// Outputs are named after their input's stem: for each input, the earlier input
// of the same stem (whose files it would replace, in whichever order the threads
// finish), or kNoEarlier.
constexpr std::size_t kNoEarlier = static_cast<std::size_t>(-1);
std::vector<std::size_t> sameNameAsEarlier(const std::vector<std::string>& paths);
void sameNameRefused(const std::string& path, const std::string& earlier, JobOutput& out);

}  // namespace tplforge::cli
