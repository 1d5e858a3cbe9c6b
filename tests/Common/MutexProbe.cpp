// Helper process for the single-instance tests: takes the application mutex
// and reports the result as its exit code. With "hold", it keeps the mutex,
// prints "ready" and waits until its standard input closes.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>

#include "CommonFunc.h"

int main(int argc, char** argv) {
  const bool hold = argc > 1 && std::strcmp(argv[1], "hold") == 0;
  std::unique_ptr<CNamedMutex> mutex;
  const int result = CreateAppMutex(APP_MUTEX_NAME, true, &mutex);
  if (hold) {
    std::printf("ready %d\n", result);
    std::fflush(stdout);
    std::string line;
    std::getline(std::cin, line);
  }
  return result;
}
