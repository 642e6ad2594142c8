// A picture reader never outlives the program waiting for it: the command line
// and the window's platform are each ended with SIGTERM while the reader they
// started hangs, and the reader must be gone.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/scratch.h"

namespace tplforge {
namespace {

using namespace std::chrono_literals;

// State and parent of a process, from /proc; nothing once it is gone.
std::optional<std::pair<char, pid_t>> stateOf(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return std::nullopt;
    // "pid (name) S ppid ...": the name may hold spaces, so read after its last ')'.
    const auto close = line.rfind(')');
    if (close == std::string::npos || close + 4 > line.size()) return std::nullopt;
    char state = line[close + 2];
    const pid_t parent = static_cast<pid_t>(std::stol(line.substr(close + 4)));
    return std::pair(state, parent);
}

std::optional<pid_t> childOf(pid_t parent) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const pid_t pid = static_cast<pid_t>(std::stol(name));
        if (const auto s = stateOf(pid); s && s->second == parent) return pid;
    }
    return std::nullopt;
}

bool running(pid_t pid) {
    const auto s = stateOf(pid);
    return s && s->first != 'Z' && s->first != 'X';
}

TEST(ReaderDeath, TheReaderEndsWithItsParent) {
    const testing::ScratchDir folder;
    const std::string picture = folder.path("hang.gif");  // the stand-in reader hangs on this name
    testing::writeBytes(picture, {'G', 'I', 'F', '8', '9', 'a'});
    const std::vector<std::vector<std::string>> parents = {
        {TPLFORGE_CLI_PATH, "encode", picture, "-o", folder.path("out.tpl")},
        {READER_PARENT_PATH, picture},
    };
    for (const auto& argv : parents) {
        SCOPED_TRACE(argv[0]);
        const pid_t parent = ::fork();
        ASSERT_GE(parent, 0);
        if (parent == 0) {
            ::setenv("TPLFORGE_PICTURE_READER", FAKE_PICTURE_READER, 1);
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            std::vector<char*> args;
            for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            ::execv(args[0], args.data());
            ::_exit(127);
        }
        std::optional<pid_t> reader;
        for (auto waited = 0ms; !reader && waited < 15s; waited += 20ms) {
            std::this_thread::sleep_for(20ms);
            reader = childOf(parent);
        }
        ASSERT_TRUE(reader.has_value()) << "no reader was started";
        ASSERT_TRUE(running(*reader));
        ASSERT_EQ(::kill(parent, SIGTERM), 0);
        int status = 0;
        ASSERT_EQ(::waitpid(parent, &status, 0), parent);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
        for (auto waited = 0ms; running(*reader) && waited < 5s; waited += 10ms) std::this_thread::sleep_for(10ms);
        EXPECT_FALSE(running(*reader)) << "reader " << *reader << " outlived its parent";
        if (running(*reader)) ::kill(*reader, SIGKILL);
    }
}

}  // namespace
}  // namespace tplforge
