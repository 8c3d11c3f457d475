#include <cstdio>

int main() {
  std::puts("Quelmar Video Capture: the main window is not built yet.");
  return 0;
}
