// veskmath: the converter program. Started without a switch it registers its class, serves
// conversion objects and shows the install dialog on the terminal; the automation runtime
// starts it with "/Automation -Embedding" when a host asks for an object and none is served.
// See server/ServerModule.h for the switches.
#include <string>
#include <vector>

#include "server/ServerModule.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return veskmath::server::RunVeskMath(args);
}
