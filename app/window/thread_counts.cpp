#include "app/window/thread_counts.h"

#include "app/window/program_options.h"
#include "distributions/conti_lamm_list.h"
#include "lamm/lamm_threads.h"
#include "platform/worker_threads.h"

int SetLammEquationThreads(int count) {
  const int threads = platform::CapWorkerThreads(count);
  Options().LammThreadCount = threads;
  LammListThreads() = threads;
  LammThreadCount() = threads;
  return threads;
}
