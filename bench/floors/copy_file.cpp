// The floor of a rebuild that keeps a file's bytes: read the whole file, write
// it to a temporary file beside OUT and rename that over OUT.
//   copy_file IN OUT
#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    std::FILE* in = std::fopen(argv[1], "rb");
    if (!in) return 1;
    std::vector<char> bytes;
    char buffer[1 << 16];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;) bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(in);
    const std::string temporary = std::string(argv[2]) + ".tmp";
    std::FILE* out = std::fopen(temporary.c_str(), "wb");
    if (!out || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size() || std::fclose(out) != 0) return 1;
    return std::rename(temporary.c_str(), argv[2]) == 0 ? 0 : 1;
}
