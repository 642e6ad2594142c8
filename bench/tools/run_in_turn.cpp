// run_in_turn RUNS COMMAND [ARGS] [-- COMMAND [ARGS]]...: runs the commands one
// after another, RUNS rounds (after 20 to warm up), their output to /dev/null,
// and prints each command's median wall-clock time in microseconds, a line each.
// A run of a millisecond moves with the machine's neighbours; timed in turn, a
// command and its floor meet the same moments.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

extern char** environ;

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s RUNS COMMAND [ARGS] [-- COMMAND [ARGS]]...\n", argv[0]);
        return 2;
    }
    const int runs = std::max(1, std::atoi(argv[1]));
    std::vector<std::vector<char*>> commands(1);
    for (int i = 2; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--") commands.emplace_back();
        else commands.back().push_back(argv[i]);
    }
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    std::vector<std::vector<double>> times(commands.size());
    for (auto& c : commands) c.push_back(nullptr);
    for (int round = -20; round < runs; ++round)
        for (std::size_t k = 0; k < commands.size(); ++k) {
            const auto start = std::chrono::steady_clock::now();
            pid_t child = 0;
            int status = 0;
            if (posix_spawn(&child, commands[k][0], &quiet, nullptr, commands[k].data(), environ) != 0 ||
                waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
                std::fprintf(stderr, "%s did not run to success\n", commands[k][0]);
                return 1;
            }
            const std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - start;
            if (round >= 0) times[k].push_back(took.count());
        }
    for (auto& t : times) {
        std::nth_element(t.begin(), t.begin() + t.size() / 2, t.end());
        std::printf("%.1f\n", t[t.size() / 2]);
    }
    return 0;
}
