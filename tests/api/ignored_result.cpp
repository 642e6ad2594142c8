// Compiled twice by nodiscard.cmake: reading the results must build, dropping
// one must not.
#include <tplforge/file_io.h>
#include <tplforge/tpl.h>

int main() {
    const std::uint8_t bytes[1] = {0};
#ifdef DROP_RESULT
    DROP_RESULT;
    return 0;
#else
    const auto written = tplforge::writeFileAtomically("", bytes);
    const auto parsed = tplforge::parseTpl(bytes);
    return written || parsed ? 1 : 0;
#endif
}
