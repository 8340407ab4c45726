// Starts a program and writes to files it reads the moment inotify, or its
// output, shows that their reading has ended: as a program that watches a
// folder and rewrites what another has just read may.
// Usage: watching_writer REPORT [FILE TRIGGER HOW]... -- PROGRAM [ARGUMENT]...
//   TRIGGER  a number K: right after the Kth read of FILE that inotify
//              reports (IN_ACCESS; 0: never, the reads are only counted);
//            reread: right after the first read that follows a close
//              (IN_CLOSE_NOWRITE), when FILE is read again, in a new
//              opening; inotify may report back-to-back reads as one, so
//              that a count is not always reached;
//            erasing: as soon as the program's "Erasing : FILE" line comes
//              through its standard output, which passes on to this one's
//   HOW      map: store 'X' at offset 0 through a fresh shared writable
//              mapping, then unmap it; pwrite: write 'X' as the last byte
// FILE is opened for reading before the program starts, and opened for
// writing through that descriptor, so that the write lands even once FILE's
// name is gone. REPORT gets one line per FILE: the reads and closes without
// writing inotify reported, whether the write was made (1), failed (-1) or
// never triggered (0), the file's names when its open for writing returned,
// and how many milliseconds that open took.
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct watched {
  std::string path;
  std::string trigger;
  std::string how;
  int reader = -1;
  int watch = -1;
  long reads = 0;
  long closes = 0;
  int written = 0;
  long links_at_open = -1;
  long open_milliseconds = -1;
};

long milliseconds_since(const timespec& start) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (now.tv_sec - start.tv_sec) * 1000 +
         (now.tv_nsec - start.tv_nsec) / 1000000;
}

void write_now(watched* file) {
  file->written = -1;
  const std::string reopened = "/proc/self/fd/" + std::to_string(file->reader);
  timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  const int fd = open(reopened.c_str(), O_RDWR | O_CLOEXEC);
  file->open_milliseconds = milliseconds_since(start);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || st.st_size == 0) return;
  file->links_at_open = static_cast<long>(st.st_nlink);
  bool done = false;
  if (file->how == "map") {
    void* at = mmap(nullptr, 1, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (at != MAP_FAILED) {
      *static_cast<volatile char*>(at) = 'X';
      done = munmap(at, 1) == 0;
    }
  } else {
    done = pwrite(fd, "X", 1, st.st_size - 1) == 1;
  }
  if (done) file->written = 1;
  close(fd);
}

void take_events(int watcher, std::vector<watched>* files) {
  alignas(inotify_event) char buffer[4096];
  ssize_t got;
  while ((got = read(watcher, buffer, sizeof buffer)) > 0) {
    for (char* at = buffer; at < buffer + got;) {
      const inotify_event* event = reinterpret_cast<inotify_event*>(at);
      at += sizeof(inotify_event) + event->len;
      for (watched& file : *files) {
        if (file.watch != event->wd) continue;
        if ((event->mask & IN_ACCESS) != 0) {
          ++file.reads;
          if (file.written == 0 &&
              (file.trigger == "reread"
                   ? file.closes > 0
                   : file.reads == std::atol(file.trigger.c_str())))
            write_now(&file);
        }
        if ((event->mask & IN_CLOSE_NOWRITE) != 0) ++file.closes;
      }
    }
  }
}

// Passes on what the program wrote, and writes the files whose "Erasing : "
// line is complete in `*pending`.
void take_output(int out, std::string* pending, std::vector<watched>* files) {
  char buffer[4096];
  const ssize_t got = read(out, buffer, sizeof buffer);
  if (got <= 0) return;
  if (::write(STDOUT_FILENO, buffer, got) != got) std::exit(126);
  pending->append(buffer, got);
  for (std::size_t end; (end = pending->find('\n')) != std::string::npos;) {
    const std::string line = pending->substr(0, end);
    pending->erase(0, end + 1);
    for (watched& file : *files)
      if (file.written == 0 && file.trigger == "erasing" &&
          line == "Erasing : " + file.path)
        write_now(&file);
  }
}

// In the child: its standard output is the pipe's end `out`.
[[noreturn]] void run_program(char** argv, int out) {
  if (dup2(out, STDOUT_FILENO) < 0) _exit(126);
  execvp(argv[0], argv);
  _exit(127);
}

}  // namespace

int main(int argc, char** argv) {
  int separator = 2;
  while (separator < argc && std::strcmp(argv[separator], "--") != 0)
    ++separator;
  if (separator + 1 >= argc || (separator - 2) % 3 != 0) {
    std::fprintf(stderr,
                 "usage: watching_writer REPORT [FILE TRIGGER HOW]... -- "
                 "PROGRAM [ARGUMENT]...\n");
    return 126;
  }
  const int watcher = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  std::vector<watched> files;
  for (int at = 2; at < separator; at += 3) {
    watched file;
    file.path = argv[at];
    file.trigger = argv[at + 1];
    file.how = argv[at + 2];
    file.reader = open(file.path.c_str(), O_RDONLY | O_CLOEXEC);
    file.watch = inotify_add_watch(watcher, file.path.c_str(),
                                   IN_ACCESS | IN_CLOSE_NOWRITE);
    if (file.reader < 0 || file.watch < 0) {
      std::perror(file.path.c_str());
      return 126;
    }
    files.push_back(file);
  }
  int pipe_ends[2];
  if (watcher < 0 || pipe2(pipe_ends, O_CLOEXEC) != 0) return 126;
  const pid_t child = fork();
  if (child == 0) run_program(argv + separator + 1, pipe_ends[1]);
  close(pipe_ends[1]);
  if (child < 0) return 126;
  std::string pending;
  // The pipe's end comes when the program ends; its reads, queued before,
  // are taken first.
  for (bool open_output = true; open_output;) {
    pollfd ready[2] = {{watcher, POLLIN, 0}, {pipe_ends[0], POLLIN, 0}};
    if (poll(ready, 2, -1) < 0) continue;
    if (ready[0].revents != 0) take_events(watcher, &files);
    if (ready[1].revents & POLLIN)
      take_output(pipe_ends[0], &pending, &files);
    else if (ready[1].revents != 0)
      open_output = false;
  }
  int status = 0;
  waitpid(child, &status, 0);
  take_events(watcher, &files);
  std::FILE* report = std::fopen(argv[1], "w");
  if (report == nullptr) return 126;
  for (const watched& file : files)
    std::fprintf(report, "%ld %ld %d %ld %ld\n", file.reads, file.closes,
                 file.written, file.links_at_open, file.open_milliseconds);
  std::fclose(report);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 126;
}
