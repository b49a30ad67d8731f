#include "app/driver.h"

int main(int argc, char** argv) { return RunInstaller(argc, argv); }
