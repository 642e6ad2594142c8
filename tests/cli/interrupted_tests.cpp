// Writes cut short by a signal: tplforge-cli replace killed while it rewrites a
// large archive in place leaves the old archive or the new one and nothing
// beside it; the named temporary file some filesystems need is removed by the
// handler installCleanupOnSignals() puts in place.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <set>
#include <thread>

#include "codec/support/file_io_detail.h"
#include "support/scratch.h"
#include "tplforge/archive.h"
#include "tplforge/png.h"
#include "tplforge/tpl.h"

namespace tplforge {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

std::set<std::string> namesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
    return names;
}

// tplforge-cli started in `folder` with its output thrown away.
pid_t start(const fs::path& folder, const std::vector<std::string>& args) {
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    if (::chdir(folder.c_str()) != 0) ::_exit(127);
    // dup2, not freopen: that would flush this test's own buffered output a second time.
    const int null = ::open("/dev/null", O_WRONLY);
    if (null < 0 || ::dup2(null, 1) < 0 || ::dup2(null, 2) < 0) ::_exit(127);
    std::vector<char*> argv{const_cast<char*>(TPLFORGE_CLI_PATH)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
}

int waitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

// A 64 x 64 RGB5A3 texture, opaque, each picture its own pattern.
Image pattern(std::uint8_t seed) {
    Image picture(64, 64);
    for (std::size_t i = 0; i < picture.rgba.size(); ++i)
        picture.rgba[i] = i % 4 == 3 ? 255 : static_cast<std::uint8_t>((i * seed) & 0xF8);
    return picture;
}

class Interrupted : public ::testing::Test, protected testing::ScratchDir {};

// About 32 MiB: the TPL member and a large member of noise beside it, so that
// most of a run is reading, copying and writing the archive.
TEST_F(Interrupted, ReplaceKilledInPlaceLeavesTheOldArchiveOrTheNewAndNothingElse) {
    TextureLayout layout;
    layout.format = Format::RGB5A3;
    layout.width = layout.height = 64;
    auto writer = TplWriter::plan(std::span(&layout, 1));
    ASSERT_TRUE(writer);
    const Bytes tpl = std::move(*writer).finish();
    Bytes noise(32u << 20);
    std::mt19937 random(7);
    for (auto& b : noise) b = static_cast<std::uint8_t>(random());
    const NewMember members[] = {{"arc/timg/x.tpl", tpl}, {"arc/sound/noise.bin", noise}};
    const auto archive = buildU8(members);
    ASSERT_TRUE(archive);
    testing::writeBytes(path("a.png"), writePng(pattern(3), PngChannels::Rgb).value());
    testing::writeBytes(path("b.png"), writePng(pattern(5), PngChannels::Rgb).value());
    testing::writeBytes(path("big.arc"), *archive);
    const std::set<std::string> inputs = {"a.png", "b.png", "big.arc"};

    // The archive holding each picture, made by runs left alone; they also time a run.
    const auto replaceWith = [](const char* picture) {
        return std::vector<std::string>{"replace", "big.arc/arc/timg/x.tpl", picture};
    };
    std::vector<Clock::duration> took;
    Bytes holding[2];  // a.png, b.png
    for (const int k : {1, 0, 1}) {
        const auto began = Clock::now();
        const int status = waitFor(start(dir, replaceWith(k == 0 ? "a.png" : "b.png")));
        took.push_back(Clock::now() - began);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        const Bytes now = testing::fileBytes(path("big.arc"));
        if (!holding[k].empty()) {
            ASSERT_EQ(now, holding[k]) << "replace is not repeatable";
        }
        holding[k] = now;
    }
    ASSERT_NE(holding[0], holding[1]);
    std::sort(took.begin(), took.end());
    const Clock::duration typical = took[1];

    // Signals spread over a whole run and past it (runs vary, mostly in the
    // flush), SIGKILL and SIGTERM in turn; each run replaces the picture the
    // archive holds by the other one.
    constexpr int kRuns = 30;
    int held = 1;
    int killed[2] = {}, finished = 0, changed = 0;
    for (int run = 0; run < kRuns; ++run) {
        const int signal = run % 2 == 0 ? SIGKILL : SIGTERM;
        const auto delay = typical * 1.5 * (run / 2 + 0.5) / (kRuns / 2);
        SCOPED_TRACE("run " + std::to_string(run) + ", " + (signal == SIGKILL ? "SIGKILL" : "SIGTERM") + " after " +
                     std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(delay).count()) + " ms");
        const pid_t pid = start(dir, replaceWith(held == 0 ? "b.png" : "a.png"));
        std::this_thread::sleep_for(delay);
        ::kill(pid, signal);
        const int status = waitFor(pid);
        if (WIFSIGNALED(status)) {
            ASSERT_EQ(WTERMSIG(status), signal);
            ++killed[signal == SIGKILL ? 0 : 1];
        } else {
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
            ++finished;
        }
        ASSERT_EQ(namesIn(dir), inputs);
        const Bytes now = testing::fileBytes(path("big.arc"));
        if (now == holding[1 - held]) {
            held = 1 - held;
            ++changed;
        } else {
            ASSERT_TRUE(now == holding[held]) << "the archive is neither the old one nor the new one";
        }
    }
    std::printf("a run took %lld ms; of %d runs %d were stopped by SIGKILL and %d by SIGTERM, %d finished; "
                "%d left the new archive\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(typical).count()), kRuns,
                killed[0], killed[1], finished, changed);
    // Delays spread over the run must have cut some runs short.
    EXPECT_GT(killed[0], 0);
    EXPECT_GT(killed[1], 0);
}

// Where O_TMPFILE is missing the temporary file has a name while it is written;
// each of the three signals removes it before ending the process as it would
// have, and the target stays as it was.
TEST_F(Interrupted, SignalsRemoveANamedTemporaryFile) {
    const Bytes before(1000, 1);
    const Bytes big(8u << 20, 2);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(::strsignal(signal));
        testing::writeBytes(path("target"), before);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            installCleanupOnSignals();
            // Written over and over until the signal comes.
            for (;;)
                if (!detail::writeFileAtomically(path("target"), big, Flush::Always, detail::TempFile::Named))
                    ::_exit(3);
        }
        // The signal is sent while a temporary file is there.
        bool seen = false;
        for (const auto until = Clock::now() + std::chrono::seconds(10); !seen && Clock::now() < until;) {
            for (const std::string& name : namesIn(dir)) seen = seen || name.starts_with(".tplforge-");
            if (!seen) std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        ::kill(pid, signal);
        const int status = waitFor(pid);
        ASSERT_TRUE(seen) << "no temporary file was seen";
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
        EXPECT_EQ(namesIn(dir), std::set<std::string>{"target"});
        const Bytes after = testing::fileBytes(path("target"));
        EXPECT_TRUE(after == before || after == big);
    }
}

}  // namespace
}  // namespace tplforge
