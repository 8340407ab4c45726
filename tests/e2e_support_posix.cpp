#include "e2e_support.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace {

[[noreturn]] void run_child(const std::vector<std::string>& words,
                            const run_options& options, int out, int err) {
  if (!options.working_directory.empty() &&
      chdir(options.working_directory.c_str()) != 0)
    _exit(126);
  dup2(out, STDOUT_FILENO);
  dup2(err, STDERR_FILENO);
  std::vector<char*> argv;
  for (const std::string& word : words)
    argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  execvp(argv[0], argv.data());
  _exit(127);
}

}  // namespace

int usage_exit_code() { return 255; }

std::string native_separators(std::string text) { return text; }

run_result run_program(const std::vector<std::string>& arguments,
                       const run_options& options) {
  // The output goes to files in a directory of its own, never into the
  // directory the program scans.
  temp_dir capture;
  const std::string out_name = capture.root + "/out";
  const std::string err_name = capture.root + "/err";
  // The suite's second run starts every program through a launcher.
  std::vector<std::string> words;
  if (const char* launcher = std::getenv("DUPSWEEP_TEST_LAUNCHER"))
    words.push_back(launcher);
  words.insert(words.end(), options.prefix.begin(), options.prefix.end());
  words.push_back(program_path());
  words.insert(words.end(), arguments.begin(), arguments.end());

  const int out = open(out_name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const int err = open(err_name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  const pid_t child = fork();
  if (child == 0) run_child(words, options, out, err);
  close(out);
  close(err);
  int status = 0;
  waitpid(child, &status, 0);

  run_result result;
  result.out = read_file(out_name);
  result.err = read_file(err_name);
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

bool set_undeletable(const std::string& path, bool on) {
  // chattr +i makes even root's unlink fail; not every file system has it.
  const std::string command =
      std::string("chattr ") + (on ? "+i '" : "-i '") + path + "' 2>/dev/null";
  return std::system(command.c_str()) == 0;
}

bool make_hard_link(const std::string& existing, const std::string& name) {
  return link(existing.c_str(), name.c_str()) == 0;
}
