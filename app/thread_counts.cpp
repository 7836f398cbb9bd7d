#include "app/thread_counts.h"

#include "app/program_options.h"
#include "distributions/conti_lamm_list.h"
#include "lamm/lamm_threads.h"

void SetLammEquationThreads(int count) {
  const int threads = count < 1 ? 1 : count;
  Options().LammThreadCount = threads;
  LammListThreads() = threads;
  LammThreadCount() = threads;
}
