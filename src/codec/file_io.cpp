#include "tplforge/file_io.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace tplforge {

namespace {
std::error_code lastError() { return {errno, std::generic_category()}; }
}  // namespace

Expected<std::vector<std::uint8_t>, std::error_code> readWholeFile(const std::string& path) {
    // Only regular files: a folder cannot be read, and a pipe or device would block.
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec) return fail(ec);
    if (std::filesystem::is_directory(status)) return fail(std::make_error_code(std::errc::is_a_directory));
    if (!std::filesystem::is_regular_file(status)) return fail(std::make_error_code(std::errc::invalid_argument));

    std::ifstream in(path, std::ios::binary);
    if (!in) return fail(errno != 0 ? lastError() : std::make_error_code(std::errc::permission_denied));
    in.seekg(0, std::ios::end);
    const std::streamoff length = in.tellg();
    if (length < 0) return fail(std::make_error_code(std::errc::io_error));
    in.seekg(0, std::ios::beg);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
    if (length > 0 && !in.read(reinterpret_cast<char*>(bytes.data()), length))
        return fail(std::make_error_code(std::errc::io_error));
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
    // O_NONBLOCK: opening a FIFO must not wait for a writer; it is refused below.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return fail(lastError());
    struct stat st {};
    std::error_code error;
    if (::fstat(fd, &st) != 0) {
        error = lastError();
    } else if (S_ISDIR(st.st_mode)) {
        error = std::make_error_code(std::errc::is_a_directory);
    } else if (!S_ISREG(st.st_mode)) {
        error = std::make_error_code(std::errc::invalid_argument);
    }
    MappedFile file;
    if (!error && st.st_size > 0) {
        void* map = ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
        if (map == MAP_FAILED) {
            error = lastError();
        } else {
            file.data_ = static_cast<const std::uint8_t*>(map);
            file.size_ = static_cast<std::size_t>(st.st_size);
        }
    }
    ::close(fd);
    if (error) return fail(error);
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

std::error_code writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes, Flush flush) {
    if (path.empty()) return std::make_error_code(std::errc::no_such_file_or_directory);
    // A short name of our own in the target's folder, so that any name the target
    // can have still leaves room for it.
    const std::filesystem::path target(path);
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    std::string tmp = (folder / ".tplforge-XXXXXX").string();
    const int fd = ::mkstemp(tmp.data());
    if (fd < 0) return lastError();

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
    if (result) ::unlink(tmp.c_str());
    return result;
}

}  // namespace tplforge
