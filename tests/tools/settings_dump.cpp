// Prints the settings read from the Quorvex.ini of a folder, one per line,
// in the form of the profile tests' ".expected" files.
#include <stdio.h>

#include "settings/settings.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: settings_dump FOLDER_WITH_SEPARATOR\n");
    return 2;
  }
  InstallerSettings s = ReadInstallerSettings(argv[1]);
  printf("ProductGUID=%s\nLanguage=%s\nManualVersion=%s\nMessageDisplay=%d\nProduct=%s\nRemoveOldFiles=%d\n",
         s.productGuid.c_str(), s.language.c_str(), s.manualVersion.c_str(), s.messageDisplay,
         s.product.c_str(), s.removeOldFiles);
  return 0;
}
