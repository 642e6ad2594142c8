#include "platform/picture_process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <optional>
#include <span>
#include <thread>

#include "codec/bytes.h"

extern char** environ;

// Where the reader lies from the programs once installed; CMake passes the real one.
#ifndef TPLFORGE_LIBEXEC_FROM_BIN
#define TPLFORGE_LIBEXEC_FROM_BIN "../libexec/tplforge"
#endif

namespace tplforge {

namespace picture_protocol {

std::array<std::uint8_t, kHeaderSize> header(ReaderStatus status, std::uint32_t width, std::uint32_t height) {
    ByteWriter out(kHeaderSize);
    out.append(kMagic);
    out.u32le(static_cast<std::uint32_t>(status));
    out.u32le(width);
    out.u32le(height);
    std::array<std::uint8_t, kHeaderSize> bytes{};
    std::copy(out.data().begin(), out.data().end(), bytes.begin());
    return bytes;
}

ReaderStatus statusFor(PictureError error) {
    switch (error) {
        case PictureError::CannotOpen: return ReaderStatus::CannotOpen;
        case PictureError::NotAPicture: return ReaderStatus::NotAPicture;
        case PictureError::TooLarge: return ReaderStatus::TooLarge;
        default: return ReaderStatus::Corrupt;
    }
}

}  // namespace picture_protocol

namespace {

using namespace picture_protocol;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

Unexpected<ReaderFailure> failure(PictureError error, std::string detail) {
    return fail(ReaderFailure{error, std::move(detail)});
}

std::string seconds(std::chrono::milliseconds limit) {
    const auto tenths = (limit.count() + 50) / 100;
    return std::to_string(tenths / 10) + (tenths % 10 ? "." + std::to_string(tenths % 10) : "") + " s";
}

enum class Read { Done, Ended, TimedOut, Failed };

// Fills `into` from the pipe before the deadline; `got` says how far it came.
Read readFully(int fd, std::span<std::uint8_t> into, Clock::time_point deadline, std::size_t& got) {
    got = 0;
    while (got < into.size()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left <= 0ms) return Read::TimedOut;
        pollfd watch{fd, POLLIN, 0};
        const int ready = ::poll(&watch, 1, static_cast<int>(std::min<std::int64_t>(left.count(), 1000)));
        if (ready < 0 && errno != EINTR) return Read::Failed;
        if (ready <= 0) continue;
        const ssize_t n = ::read(fd, into.data() + got, into.size() - got);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return Read::Failed;
        }
        if (n == 0) return Read::Ended;
        got += static_cast<std::size_t>(n);
    }
    return Read::Done;
}

// The running reader. Every way out of a read kills and reaps it, so no failure
// leaves a stray decoder or a zombie behind.
class Child {
public:
    Child(pid_t pid, int fd, std::chrono::milliseconds limit)
        : pid_(pid), fd_(fd), limit_(limit), deadline_(Clock::now() + limit) {}
    ~Child() {
        closePipe();
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            int status = 0;
            while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    Read read(std::span<std::uint8_t> into, std::size_t& got) { return readFully(fd_, into, deadline_, got); }

    // Waits for the reader to end by itself; nothing when it did so with status 0.
    std::optional<ReaderFailure> end() {
        closePipe();
        int status = 0;
        for (auto pause = 1ms;; pause = std::min<std::chrono::milliseconds>(pause * 2, 50ms)) {
            const pid_t done = ::waitpid(pid_, &status, WNOHANG);
            if (done == pid_) break;
            if (done < 0 && errno != EINTR) {  // reaped elsewhere (SIGCHLD ignored): the answer decides
                pid_ = -1;
                return std::nullopt;
            }
            const auto left = deadline_ - Clock::now();
            if (left <= 0ms) return timedOut();
            std::this_thread::sleep_for(std::min<Clock::duration>(pause, left));
        }
        pid_ = -1;
        if (WIFSIGNALED(status)) {
            const int signal = WTERMSIG(status);
            const char* name = ::strsignal(signal);
            return ReaderFailure{PictureError::ReaderFailed, "it crashed (signal " + std::to_string(signal) +
                                                                 (name ? std::string(", ") + name : "") + ")"};
        }
        if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
            return ReaderFailure{PictureError::ReaderFailed,
                                 "it exited with status " + std::to_string(WEXITSTATUS(status))};
        return std::nullopt;
    }

    ReaderFailure timedOut() const {
        return {PictureError::ReaderTimedOut, "stopped after " + seconds(limit_)};
    }

    // The answer broke off or made no sense: how the reader ended tells more
    // than the bytes, when it ended badly.
    ReaderFailure broken(std::string what, bool waitForEnd) {
        if (!waitForEnd) return {PictureError::ReaderFailed, std::move(what)};
        if (auto why = end()) return *why;
        return {PictureError::ReaderFailed, std::move(what)};
    }

private:
    void closePipe() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    pid_t pid_;
    int fd_;
    std::chrono::milliseconds limit_;
    Clock::time_point deadline_;
};

PictureError errorFor(ReaderStatus status) {
    switch (status) {
        case ReaderStatus::CannotOpen: return PictureError::CannotOpen;
        case ReaderStatus::NotAPicture: return PictureError::NotAPicture;
        case ReaderStatus::TooLarge: return PictureError::TooLarge;
        default: return PictureError::Corrupt;
    }
}

}  // namespace

std::string findPictureProgram() {
    if (const char* chosen = std::getenv(kPictureProgramVariable); chosen && *chosen) return chosen;
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    const fs::path here = self.parent_path();
    const fs::path libexec = here / TPLFORGE_LIBEXEC_FROM_BIN;
    for (const fs::path& candidate : {here / kPictureProgramName, libexec / kPictureProgramName})
        if (::access(candidate.c_str(), X_OK) == 0) return candidate.lexically_normal().string();
    return {};
}

Expected<Image, ReaderFailure> readPictureInProcess(const std::string& path, Backdrop backdrop,
                                                    const PictureReader& reader) {
    std::string program = reader.program.empty() ? findPictureProgram() : reader.program;
    if (program.empty())
        return failure(PictureError::ReaderMissing, std::string(kPictureProgramName) +
                                                        " is neither beside this program nor in " +
                                                        TPLFORGE_LIBEXEC_FROM_BIN " next to it");
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) return failure(PictureError::ReaderMissing, std::strerror(errno));
    // Fewer, larger hand-overs for a large picture; the default size is fine too.
    ::fcntl(pipe[0], F_SETPIPE_SZ, 1 << 20);

    // The reader's standard output is the pipe; its standard error stays ours, so
    // that a decoder's warnings reach the user as they did in-process.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipe[1], 1);
    std::string mode = backdrop == Backdrop::Surface ? "--over-surface" : "--keep-alpha";
    std::string endOfOptions = "--", file = path;
    char* argv[] = {program.data(), mode.data(), endOfOptions.data(), file.data(), nullptr};
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe[1]);
    if (spawned != 0) {
        ::close(pipe[0]);
        return failure(PictureError::ReaderMissing, program + ": " + std::strerror(spawned));
    }
    Child child(pid, pipe[0], reader.timeLimit);

    std::array<std::uint8_t, kHeaderSize> head{};
    std::size_t got = 0;
    switch (child.read(head, got)) {
        case Read::Done: break;
        case Read::TimedOut: return fail(child.timedOut());
        default:
            return fail(child.broken("its answer ended after " + std::to_string(got) + " bytes of the header", true));
    }
    ByteReader in(head);
    const auto magic = in.bytes(kMagic.size());
    const auto status = in.u32le(), width = in.u32le(), height = in.u32le();
    const bool known = *status <= static_cast<std::uint32_t>(ReaderStatus::TooLarge);
    if (!std::equal(kMagic.begin(), kMagic.end(), magic->begin()) || !known)
        return fail(child.broken("its answer does not start with a picture header", false));
    const auto readerStatus = static_cast<ReaderStatus>(*status);
    const std::uint64_t pixels = std::uint64_t{*width} * *height;
    if (readerStatus == ReaderStatus::Ok ? pixels == 0 || pixels > kMaxPixels : pixels != 0)
        return fail(child.broken("its answer gives a size of " + std::to_string(*width) + " x " +
                                     std::to_string(*height) + " pixels",
                                 false));

    Image picture;
    try {
        picture = Image(*width, *height);
    } catch (const std::bad_alloc&) {
        return failure(PictureError::TooLarge, "");
    }
    switch (child.read(picture.rgba, got)) {
        case Read::Done: break;
        case Read::TimedOut: return fail(child.timedOut());
        default:
            return fail(child.broken("its answer ended after " + std::to_string(got) + " of " +
                                         std::to_string(picture.rgba.size()) + " pixel bytes",
                                     true));
    }
    std::uint8_t extra[1];
    switch (child.read(extra, got)) {
        case Read::Ended: break;
        case Read::TimedOut: return fail(child.timedOut());
        default: return fail(child.broken("its answer runs on past the picture", false));
    }
    if (auto why = child.end()) return fail(std::move(*why));
    if (readerStatus != ReaderStatus::Ok) return failure(errorFor(readerStatus), "");
    return picture;
}

}  // namespace tplforge
