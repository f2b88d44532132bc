// A stand-in handler for https addresses under Wine: writes the arguments it
// was started with, separated by NUL bytes, to a new file in the folder that
// VARNHOLT_RECORDS names.
#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char **argv) {
  const char *folder = std::getenv("VARNHOLT_RECORDS");
  if (folder == nullptr) {
    return 1;
  }
  std::string const path = std::string(folder) + "\\" + std::to_string(GetCurrentProcessId());
  std::FILE *record = std::fopen((path + ".tmp").c_str(), "wb");
  if (record == nullptr) {
    return 1;
  }
  for (int i = 1; i < argc; ++i) {
    std::fwrite(argv[i], 1, std::strlen(argv[i]) + (i + 1 < argc ? 1 : 0), record);
  }
  std::fclose(record);
  return std::rename((path + ".tmp").c_str(), path.c_str()) == 0 ? 0 : 1;
}
