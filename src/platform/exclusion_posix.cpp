#include "platform/exclusion.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/exclusion_posix.h"
#include "platform/file_system_posix.h"
#include "platform/open_file.h"
#include "platform/open_file_posix.h"

struct writer_exclusion {
  int fd = -1;
};

namespace {

// What is known of each descriptor's lease, kept where the signal handler
// can reach it without a lock. Descriptors from this number on get no
// lease: they are proved by reading.
constexpr int most_descriptors = 65536;
constexpr unsigned char leased = 1;    // Taken, and not given up since.
constexpr unsigned char broken = 2;    // A writer asked for the file.
constexpr unsigned char deferred = 4;  // The writer is to wait.
std::atomic<unsigned char> leases[most_descriptors];

// Runs when a writer opens or truncates a leased file. The lease is given up
// at once, so the writer waits only for this signal, never for the
// kernel's lease-break time, unless a deletion is under way.
void on_lease_break(int, siginfo_t* info, void*) {
  const int fd = info->si_fd;
  if (fd < 0 || fd >= most_descriptors) return;
  const int saved = errno;
  if ((leases[fd].fetch_or(broken) & deferred) == 0)
    fcntl(fd, F_SETLEASE, F_UNLCK);
  errno = saved;
}

// A real-time signal, so that each break is queued with its descriptor
// rather than merged into one SIGIO. SA_RESTART: calls it interrupts go on.
int lease_signal() {
  static const int chosen = [] {
    struct sigaction action {};
    action.sa_sigaction = on_lease_break;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGRTMIN, &action, nullptr);
    // Where the queue of real-time signals is full the kernel sends SIGIO
    // instead, which would end the run: ignored, a break so lost still ends
    // the lease after the kernel's lease-break time, which the checks see.
    signal(SIGIO, SIG_IGN);
    return SIGRTMIN;
  }();
  return chosen;
}

}  // namespace

// Closing the descriptor ends the lease: a call to end it now would only
// add to the cost of every proof.
void writer_exclusion_closer::operator()(writer_exclusion* exclusion) const {
  leases[exclusion->fd] = 0;
  delete exclusion;
}

exclusion_attempt exclude_writers(const open_file& file) {
  const std::optional<file_state> state = state_of(file);
  return exclude_writers_of(
      descriptor_of(file),
      state && state->has_identity
          ? std::optional<std::uint64_t>(state->identity.volume)
          : std::nullopt);
}

exclusion_attempt exclude_writers_of(int fd,
                                     std::optional<std::uint64_t> device) {
  exclusion_attempt attempt;
  // On FUSE and network file systems a lease keeps out only the writers of
  // this system, not the daemon's or the server's.
  if (fd < 0 || fd >= most_descriptors || !writes_pass_this_kernel(fd, device))
    return attempt;
  if (fcntl(fd, F_SETSIG, lease_signal()) != 0) return attempt;
  leases[fd] = leased;
  if (fcntl(fd, F_SETLEASE, F_RDLCK) != 0) {
    const int error = errno;
    leases[fd] = 0;
    // EAGAIN: the file is open for writing, or mapped shared and writable.
    if (error == EAGAIN) attempt.outcome = exclusion_outcome::open_for_writing;
    return attempt;
  }
  // The kernel signals a break to the thread that took the lease, and to no
  // other: one taken by a thread that ends before the lease would keep a
  // writer waiting for the kernel's lease-break time. Any thread of the
  // process may take the signal instead; the first thread outlives them all.
  thread_local const bool first_thread = gettid() == getpid();
  if (!first_thread) {
    const f_owner_ex process{F_OWNER_PID, getpid()};
    if (fcntl(fd, F_SETOWN_EX, &process) != 0) {
      leases[fd] = 0;
      fcntl(fd, F_SETLEASE, F_UNLCK);
      return attempt;
    }
  }
  attempt.outcome = exclusion_outcome::held;
  attempt.held.reset(new writer_exclusion{fd});
  return attempt;
}

bool writers_still_excluded(const writer_exclusion& exclusion) {
  return (leases[exclusion.fd] & (leased | broken)) == leased &&
         fcntl(exclusion.fd, F_GETLEASE) == F_RDLCK;
}

void defer_release(writer_exclusion* exclusion) {
  leases[exclusion->fd].fetch_or(deferred);
}

void end_deferral(writer_exclusion* exclusion) {
  const unsigned char was =
      leases[exclusion->fd].fetch_and(static_cast<unsigned char>(~deferred));
  if ((was & broken) != 0) fcntl(exclusion->fd, F_SETLEASE, F_UNLCK);
}
