// tplforge-cli run as a user runs it, in a test's scratch folder.
#pragma once

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "support/scratch.h"

namespace tplforge::testing {

struct CliOutcome {
    int status = -1;
    std::string out, err;
    [[nodiscard]] std::size_t errLines() const { return static_cast<std::size_t>(std::count(err.begin(), err.end(), '\n')); }
};

// `args` as typed after the program's name, in `folder`; stdout and stderr caught.
inline CliOutcome runCli(const std::string& program, const std::filesystem::path& folder, const std::string& args) {
    const std::string command = "cd '" + folder.string() + "' && '" + program + "' " + args + " >out.txt 2>err.txt";
    const int status = std::system(command.c_str());
    const auto out = fileBytes((folder / "out.txt").string()), err = fileBytes((folder / "err.txt").string());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, {out.begin(), out.end()}, {err.begin(), err.end()}};
}

}  // namespace tplforge::testing
