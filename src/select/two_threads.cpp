#include "select/two_threads.h"

bool has_second_core() {
  static const bool several = std::thread::hardware_concurrency() > 1;
  return several;
}

void finish_second(second_thread* second) {
  if (second->thread.joinable()) second->thread.join();
  if (second->failure) std::rethrow_exception(second->failure);
}
