// The program's entry: hands the command line to the start-up.
#include <cstdio>

int main(int argc, char** argv) {
  (void)argc;
  (void)argv;
  std::puts("tarnel: start-up not built yet");
  return 0;
}
