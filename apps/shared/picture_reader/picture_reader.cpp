#include "picture_reader/picture_reader.h"

#include <sys/prctl.h>

#include <fcntl.h>
#include <poll.h>
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

#include "tplforge/bytes.h"

// Where the reader lies from the programs once installed; CMake passes the real one.
#ifndef TPLFORGE_LIBEXEC_FROM_BIN
#define TPLFORGE_LIBEXEC_FROM_BIN "../libexec/tplforge"
#endif

namespace tplforge {

std::string_view describe(PictureError error) {
    switch (error) {
        case PictureError::CannotOpen: return "cannot open the file";
        case PictureError::NotAPicture: return "not a picture format that can be read";
        case PictureError::Corrupt: return "the picture is damaged or cut short";
        case PictureError::TooLarge: return "the picture is too large";
        case PictureError::ReaderFailed: return "the picture reader failed on this file";
        case PictureError::ReaderTimedOut: return "the picture reader took too long on this file";
        case PictureError::ReaderMissing: return "the picture reader (tplforge-picture) cannot be found or started";
    }
    return "cannot read the picture";
}

namespace picture_protocol {

namespace {
constexpr std::string_view kKeepAlpha = "--keep-alpha";
constexpr std::string_view kOver = "--over=";
}  // namespace

std::string backdropArgument(const Backdrop& backdrop) {
    if (!backdrop.overColour) return std::string(kKeepAlpha);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string argument(kOver);
    for (int shift = 20; shift >= 0; shift -= 4) argument += kHex[(*backdrop.overColour >> shift) & 15];
    return argument;
}

std::optional<Backdrop> backdropFromArgument(std::string_view argument) {
    if (argument == kKeepAlpha) return Backdrop::keepAlpha();
    if (!argument.starts_with(kOver) || argument.size() != kOver.size() + 6) return std::nullopt;
    std::uint32_t colour = 0;
    for (const char c : argument.substr(kOver.size())) {
        const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (digit < 0) return std::nullopt;
        colour = colour << 4 | static_cast<std::uint32_t>(digit);
    }
    return Backdrop::over(colour);
}

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

namespace {

// Starts the reader with the pipe as its standard output. The child only makes
// calls that are safe after fork() in a process with threads, and asks to be
// killed when the thread that started it ends: a reader must never outlive the
// program waiting for it, even one ended by a signal. An exec that fails is
// reported through a second pipe, closed unwritten by a successful exec.
Expected<pid_t, std::string> startReader(const std::string& program, char* const argv[], int output) {
    int status[2];
    if (::pipe2(status, O_CLOEXEC) != 0) return fail(std::string(std::strerror(errno)));
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        const int error = errno;
        ::close(status[0]);
        ::close(status[1]);
        return fail(std::string(std::strerror(error)));
    }
    if (pid == 0) {
        int error = 0;
        if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent) ::_exit(127);  // already orphaned
        const int input = ::open("/dev/null", O_RDONLY);
        if (input < 0 || ::dup2(input, 0) < 0 || ::dup2(output, 1) < 0) {
            error = errno;
        } else {
            ::execv(program.c_str(), argv);
            error = errno;
        }
        [[maybe_unused]] const ssize_t written = ::write(status[1], &error, sizeof error);
        ::_exit(127);
    }
    ::close(status[1]);
    int error = 0;
    ssize_t n;
    while ((n = ::read(status[0], &error, sizeof error)) < 0 && errno == EINTR) {
    }
    ::close(status[0]);
    if (n > 0) {
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        return fail(std::string(std::strerror(error)));
    }
    return pid;
}

}  // namespace

Expected<Image, ReaderFailure> readPictureInProcess(const std::string& path, const Backdrop& backdrop,
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
    std::string mode = backdropArgument(backdrop);
    std::string endOfOptions = "--", file = path;
    char* argv[] = {program.data(), mode.data(), endOfOptions.data(), file.data(), nullptr};
    const auto started = startReader(program, argv, pipe[1]);
    ::close(pipe[1]);
    if (!started) {
        ::close(pipe[0]);
        return failure(PictureError::ReaderMissing, program + ": " + started.error());
    }
    Child child(*started, pipe[0], reader.timeLimit);

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
    if (readerStatus == ReaderStatus::Ok ? pixels == 0 || pixels > kMaxPicturePixels : pixels != 0)
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
