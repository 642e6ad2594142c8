#include "tplforge/file_io.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

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
}  // namespace

Expected<void, std::error_code> writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes,
                                                    Flush flush) {
    if (path.empty()) return fail(std::make_error_code(std::errc::no_such_file_or_directory));
    // A short name of our own in the target's folder, so that any name the target
    // can have still leaves room for it.
    const std::filesystem::path target(path);
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    std::string tmp = (folder / ".tplforge-XXXXXX").string();
    const int fd = ::mkstemp(tmp.data());
    if (fd < 0) return fail(lastError());

    std::error_code result;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            result = lastError();
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    // mkstemp creates 0600: a replaced file keeps its own mode, a new one gets the usual.
    bool replacing = false;
    if (!result) {
        struct stat old {};
        mode_t mode = 0;
        if (::stat(path.c_str(), &old) == 0) {
            replacing = true;
            mode = old.st_mode & 07777;
        } else {
            mode = 0666 & ~processUmask();
        }
        if (::fchmod(fd, mode) != 0) result = lastError();
    }
    if (!result && (flush == Flush::Always || replacing) && ::fsync(fd) != 0) result = lastError();
    if (::close(fd) != 0 && !result) result = lastError();
    if (!result && ::rename(tmp.c_str(), path.c_str()) != 0) result = lastError();
    if (!result) return {};
    ::unlink(tmp.c_str());
    return fail(result);
}

}  // namespace tplforge
