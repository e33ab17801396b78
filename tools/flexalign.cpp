// Command-line demo of the library.
#include <cstdio>

#include "vcFlexAlign.h"

int main() {
  std::printf("flexalign %s\n", vfFlexAlignVersion());
  return 0;
}
