#include "app/driver.h"
#include "platform/process_hardening.h"

int main(int argc, char** argv) {
  HardenProcess();
  return RunInstaller(argc, argv);
}
