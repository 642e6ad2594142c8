#include "common/file_io.h"

#include <fcntl.h>
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
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) return fail(std::make_error_code(std::errc::is_a_directory));
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        const auto err = errno != 0 ? lastError() : std::make_error_code(std::errc::no_such_file_or_directory);
        return fail(err);
    }
    in.seekg(0, std::ios::end);
    const std::streamoff length = in.tellg();
    if (length < 0) return fail(std::make_error_code(std::errc::io_error));
    in.seekg(0, std::ios::beg);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
    if (length > 0 && !in.read(reinterpret_cast<char*>(bytes.data()), length))
        return fail(std::make_error_code(std::errc::io_error));
    return bytes;
}

std::error_code writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes) {
    if (path.empty()) return std::make_error_code(std::errc::no_such_file_or_directory);
    std::string tmp = path + ".XXXXXX.tmp";
    const int fd = ::mkstemps(tmp.data(), 4);
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
    if (!result && ::fsync(fd) != 0) result = lastError();
    // mkstemp creates 0600; a saved texture should get the usual permissions.
    if (!result) {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);
    }
    if (::close(fd) != 0 && !result) result = lastError();
    if (!result && ::rename(tmp.c_str(), path.c_str()) != 0) result = lastError();
    if (result) ::unlink(tmp.c_str());
    return result;
}

}  // namespace tplforge
