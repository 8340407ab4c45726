// Work shared with a second thread where the machine has a second core.
#pragma once

#include <exception>
#include <system_error>
#include <thread>

/// A job on a second thread. Released, it waits for the job, so that nothing
/// the job uses goes away under it, whatever ends the caller.
struct second_thread {
  second_thread() = default;
  second_thread(const second_thread&) = delete;
  second_thread& operator=(const second_thread&) = delete;
  ~second_thread() {
    if (thread.joinable()) thread.join();
  }

  std::thread thread;
  std::exception_ptr failure;  ///< What the job threw.
};

/// True where the machine has more than one core.
bool has_second_core();

/// Starts `job` on `second` where there is a second core and a thread to be
/// had; false otherwise, and the caller does the job's share itself.
template <typename job_function>
bool start_second(second_thread* second, job_function job) {
  if (!has_second_core()) return false;
  try {
    second->thread = std::thread([second, job]() mutable {
      try {
        job();
      } catch (...) {
        second->failure = std::current_exception();
      }
    });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

/// Waits for the job started on `second`, if any, and throws again what it
/// threw.
void finish_second(second_thread* second);
