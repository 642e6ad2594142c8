#include "tplforge/file_io.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string_view>

#include "codec/support/file_io_detail.h"

namespace tplforge {

namespace {
std::error_code lastError() { return {errno, std::generic_category()}; }

// Only regular files: a folder cannot be read, and a pipe or device would block
// (O_NONBLOCK: opening a FIFO must not wait for a writer before it is refused).
// Checked on the opened file, so that what is checked is what is read.
struct OpenFile {
    int fd = -1;
    std::size_t size = 0;
    OpenFile() = default;
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    ~OpenFile() {
        if (fd >= 0) ::close(fd);
    }
};

std::error_code openRegular(const std::string& path, OpenFile& file) {
    file.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (file.fd < 0) return lastError();
    struct stat st {};
    if (::fstat(file.fd, &st) != 0) return lastError();
    if (S_ISDIR(st.st_mode)) return std::make_error_code(std::errc::is_a_directory);
    if (!S_ISREG(st.st_mode)) return std::make_error_code(std::errc::invalid_argument);
    file.size = static_cast<std::size_t>(st.st_size);
    return {};
}
}  // namespace

Expected<std::vector<std::uint8_t>, std::error_code> readWholeFile(const std::string& path) {
    OpenFile file;
    if (const auto error = openRegular(path, file)) return fail(error);
    std::vector<std::uint8_t> bytes(file.size);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(file.fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return fail(lastError());
        if (n == 0) break;  // shrunk since: what is there
        done += static_cast<std::size_t>(n);
    }
    bytes.resize(done);
    return bytes;
}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
    if (this != &other) {
        if (size_ > 0) ::munmap(const_cast<std::uint8_t*>(data_), size_);
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

MappedFile::~MappedFile() {
    if (size_ > 0) ::munmap(const_cast<std::uint8_t*>(data_), size_);
}

Expected<MappedFile, std::error_code> mapWholeFile(const std::string& path) {
    OpenFile opened;
    if (const auto error = openRegular(path, opened)) return fail(error);
    MappedFile file;
    if (opened.size > 0) {
        void* map = ::mmap(nullptr, opened.size, PROT_READ, MAP_PRIVATE, opened.fd, 0);
        if (map == MAP_FAILED) return fail(lastError());
        file.data_ = static_cast<const std::uint8_t*>(map);
        file.size_ = opened.size;
    }
    return file;
}

namespace {
// The umask can only be read by setting it; done once, so that threads writing
// files at the same time cannot catch it at 0 and leave it there.
mode_t processUmask() {
    static const mode_t mask = [] {
        const mode_t m = ::umask(0);
        ::umask(m);
        return m;
    }();
    return mask;
}

// The names of temporary files that a signal handler removes: a fixed table,
// since the handler may neither allocate nor lock. A slot is taken by the writer
// (Free -> Filling -> Held) and given back (Held -> Free); the handler takes it
// for good (Held -> Taken), so that a writer who finds its slot taken knows the
// handler may have run before its file had a name, and removes the file itself.
enum SlotState : int { kFree, kFilling, kHeld, kTaken };
constexpr std::size_t kSlots = 64;
constexpr std::size_t kLeafSize = 24;
struct TempSlot {
    std::atomic<int> state{kFree};
    int folder = -1;
    char leaf[kLeafSize] = {};
};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs lock-free slots");
TempSlot gSlots[kSlots];

void removeTempFiles() {
    for (TempSlot& slot : gSlots) {
        int held = kHeld;
        if (slot.state.compare_exchange_strong(held, kTaken)) ::unlinkat(slot.folder, slot.leaf, 0);
    }
}

extern "C" void removeTempFilesAndDie(int signal) {
    const int saved = errno;
    removeTempFiles();
    errno = saved;
    // SA_RESETHAND put the default action back; the signal is blocked until this returns.
    ::raise(signal);
}

// ".tplforge-" and six letters or digits.
void pickName(char (&leaf)[kLeafSize]) {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static std::atomic<std::uint64_t> counter{0};
    std::uint8_t random[6];
    if (::getrandom(random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random)) {
        std::uint64_t mix = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                            (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull) ^ static_cast<std::uint64_t>(::getpid());
        for (std::uint8_t& r : random) r = static_cast<std::uint8_t>(mix >>= 8);
    }
    constexpr std::string_view prefix = ".tplforge-";
    std::copy(prefix.begin(), prefix.end(), leaf);
    for (std::size_t i = 0; i < sizeof random; ++i)
        leaf[prefix.size() + i] = kAlphabet[random[i] % (sizeof kAlphabet - 1)];
    leaf[prefix.size() + sizeof random] = '\0';
}

// One temporary name in the folder, listed for the handler while it is held.
// When every slot is busy the name goes unlisted: the write still happens, only
// a signal would leave that file behind.
class TempName {
public:
    explicit TempName(int folder) : folder_(folder) {}
    TempName(const TempName&) = delete;
    TempName& operator=(const TempName&) = delete;
    ~TempName() { release(); }

    // A fresh name, listed before any file can have it.
    void renew() {
        release();
        pickName(leaf_);
        for (std::size_t i = 0; i < kSlots; ++i) {
            int free = kFree;
            if (!gSlots[i].state.compare_exchange_strong(free, kFilling)) continue;
            gSlots[i].folder = folder_;
            std::copy(std::begin(leaf_), std::end(leaf_), gSlots[i].leaf);
            gSlots[i].state.store(kHeld);
            slot_ = static_cast<int>(i);
            return;
        }
    }
    // False once the handler has taken the name: the process is going.
    [[nodiscard]] bool stillHeld() const { return slot_ < 0 || gSlots[slot_].state.load() == kHeld; }
    [[nodiscard]] const char* leaf() const { return leaf_; }

private:
    void release() {
        if (slot_ < 0) return;
        int held = kHeld;
        gSlots[slot_].state.compare_exchange_strong(held, kFree);
        slot_ = -1;
    }
    int folder_;
    int slot_ = -1;
    char leaf_[kLeafSize] = {};
};

struct Descriptor {
    int fd = -1;
    Descriptor() = default;
    explicit Descriptor(int f) : fd(f) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() { close(); }
    // close()'s own failure matters for a file written: a full disk may only show there.
    int close() { return fd >= 0 ? ::close(std::exchange(fd, -1)) : 0; }
};

constexpr int kTries = 100;

std::error_code writeAll(int fd, std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return lastError();
        done += static_cast<std::size_t>(n);
    }
    return {};
}

// A new file takes the usual mode, a replaced one keeps its own; flushed as asked.
std::error_code settle(int fd, const std::string& path, Flush flush) {
    bool replacing = false;
    mode_t mode = 0;
    struct stat old {};
    if (::stat(path.c_str(), &old) == 0) {
        replacing = true;
        mode = old.st_mode & 07777;
    } else {
        mode = 0666 & ~processUmask();
    }
    if (::fchmod(fd, mode) != 0) return lastError();
    if ((flush == Flush::Always || replacing) && ::fsync(fd) != 0) return lastError();
    return {};
}

}  // namespace

void installCleanupOnSignals() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action {};
        action.sa_handler = removeTempFilesAndDie;
        action.sa_flags = SA_RESETHAND;
        sigemptyset(&action.sa_mask);
        for (const int signal : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&action.sa_mask, signal);
        for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
            struct sigaction current {};
            // A signal ignored on purpose (nohup) stays ignored.
            if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
            ::sigaction(signal, &action, nullptr);
        }
    });
}

namespace detail {

Expected<void, std::error_code> writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes,
                                                    Flush flush, TempFile kind) {
    if (path.empty()) return fail(std::make_error_code(std::errc::no_such_file_or_directory));
    const std::filesystem::path target(path);
    const std::string folderPath = target.has_parent_path() ? target.parent_path().string() : ".";
    const Descriptor folder(::open(folderPath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (folder.fd < 0) return fail(lastError());

    // Unnamed until complete, so that no kill, not even SIGKILL, leaves part of
    // a file behind; filesystems without O_TMPFILE get a named one at once.
    Descriptor file;
    bool unnamed = kind == TempFile::Unnamed;
    if (unnamed) {
        file.fd = ::openat(folder.fd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
        if (file.fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return fail(lastError());
        unnamed = file.fd >= 0;
    }
    TempName name(folder.fd);
    bool named = false;  // a name in the folder that must go on failure
    const auto failed = [&](std::error_code error) -> Expected<void, std::error_code> {
        if (named) ::unlinkat(folder.fd, name.leaf(), 0);
        return fail(error);
    };
    // The slot was taken by the handler: the name might have come after its unlink.
    const auto dying = std::make_error_code(std::errc::operation_canceled);
    if (!unnamed) {
        for (int tries = 0; file.fd < 0; ++tries) {
            name.renew();
            file.fd = ::openat(folder.fd, name.leaf(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (file.fd < 0 && (errno != EEXIST || tries == kTries)) return fail(lastError());
        }
        named = true;
        if (!name.stillHeld()) return failed(dying);
    }
    if (const auto error = writeAll(file.fd, bytes)) return failed(error);
    if (const auto error = settle(file.fd, path, flush)) return failed(error);
    if (unnamed) {
        const std::string self = "/proc/self/fd/" + std::to_string(file.fd);
        for (int tries = 0; !named; ++tries) {
            name.renew();
            if (::linkat(AT_FDCWD, self.c_str(), folder.fd, name.leaf(), AT_SYMLINK_FOLLOW) == 0) named = true;
            // No /proc to name the file through (the folder is open, so it is not the one missing).
            else if (errno == ENOENT && tries == 0) return writeFileAtomically(path, bytes, flush, TempFile::Named);
            else if (errno != EEXIST || tries == kTries) return failed(lastError());
        }
        if (!name.stillHeld()) return failed(dying);
    }
    if (file.close() != 0) return failed(lastError());
    if (::renameat(folder.fd, name.leaf(), AT_FDCWD, path.c_str()) != 0) return failed(lastError());
    return {};
}

}  // namespace detail

Expected<void, std::error_code> writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes,
                                                    Flush flush) {
    return detail::writeFileAtomically(path, bytes, flush, detail::TempFile::Unnamed);
}

}  // namespace tplforge
