// Argument handling and the order of a run's phases.
#pragma once

#include <string>

/// Exit code of a normal run.
constexpr int exit_success = 0;
/// Exit code after the usage text.
constexpr int exit_usage = -1;
/// Exit code after an abnormal end.
constexpr int exit_failure = 3;

/// The notice written to standard error when a run ends abnormally.
extern const char termination_notice[];

/// Writes the usage text naming `program` exactly as given.
void print_usage(const std::string& program);

/// Runs the program on its command line and returns the exit code. Every
/// failure no phase handles passes to the caller as an exception.
int run_dupsweep(int argc, const char* const* argv);
