#include "host.h"

int main() {
  return exegfxMain();
}
