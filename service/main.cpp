// The program: a command word acts and exits; no command word runs the service.
#include <cstdio>
#include <cstdlib>

#include "service/entry.h"

int main(int argc, char** argv) {
  CollectArguments(argc, argv);
  ServiceMainProc();
  // The monitor thread may still be at work when the service has stopped.
  // Ending the process here, without running the destructors of the global
  // objects it uses, lets it end wherever it is instead of touching freed state.
  // Every file write is complete when its call returns; nothing is buffered.
  std::fflush(nullptr);
  std::_Exit(0);
}
