/* A memory-checking function as another module would supply it. */
#include <stdint.h>

__attribute__((visibility("default"))) int32_t VeskMemoryCheck(uintptr_t a, uintptr_t b, uintptr_t c,
                                                               uintptr_t d) {
  return (int32_t)(a + 10 * b + 100 * c + 1000 * d);
}
