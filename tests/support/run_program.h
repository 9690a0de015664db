#pragma once
// Runs a program to its end with its standard output and error captured, for end-to-end tests.

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace fixture {

struct ProgramResult {
    int exit_code = -1; // the exit status, or 128 + signal number when killed by a signal
    std::string out;    // standard output
    std::string err;    // standard error
};

// Environment changes for the child: a value sets the variable, nullopt removes it.
using EnvChanges = std::vector<std::pair<std::string, std::optional<std::string>>>;

// Starts `program` with `args` (argv[0] is the program path) in `workdir` (empty: the current
// folder), waits for it and returns what it printed.
ProgramResult run_program(const std::string& program, const std::vector<std::string>& args,
                          const EnvChanges& env = {}, const std::string& workdir = {});

} // namespace fixture
