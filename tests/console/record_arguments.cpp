// A stand-in address handler: the https handler under Wine, xdg-open
// elsewhere. Each start writes a file of its own in the folder that
// VARNHOLT_RECORDS names: one line of facts about how it was started, then
// its arguments, separated by NUL bytes. Elsewhere it first waits
// VARNHOLT_RECORD_DELAY seconds, as a browser that takes its time to start
// would.
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <chrono>
#include <fstream>
#include <thread>
#endif
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

#ifdef _WIN32
// How the shell asked the handler to show its window.
std::string StartFacts() {
  STARTUPINFOA startup{};
  GetStartupInfoA(&startup);
  if ((startup.dwFlags & STARTF_USESHOWWINDOW) == 0) {
    return "show=unset";
  }
  return "show=" + std::to_string(startup.wShowWindow);
}

// A name no other start has taken: process ids are reused.
std::string ReserveRecordName(const char *folder) {
  char name[MAX_PATH];
  return GetTempFileNameA(folder, "rec", 0, name) != 0 ? name : "";
}

bool ReplaceFile(const std::string &from, const std::string &to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}
#else
// The session and process group it runs in, the signals it ignores (as a hex
// mask), and every open descriptor with its access mode, marked "null" where
// it is /dev/null.
std::string StartFacts() {
  std::string facts = "pid=" + std::to_string(getpid()) + " session=" + std::to_string(getsid(0)) +
                      " group=" + std::to_string(getpgrp()) + " ignored=";
  {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
      if (line.starts_with("SigIgn:\t")) {
        facts += line.substr(8);
      }
    }
  }
  facts += " descriptors=";
  struct stat null {};
  stat("/dev/null", &null);
  for (int descriptor = 0; descriptor < 1024; ++descriptor) {
    struct stat open {};
    if (fstat(descriptor, &open) == 0) {
      bool const isNull = S_ISCHR(open.st_mode) && open.st_rdev == null.st_rdev;
      int const mode = fcntl(descriptor, F_GETFL) & O_ACCMODE;
      facts += std::to_string(descriptor) + (isNull ? ":null:" : ":other:") +
               (mode == O_RDONLY   ? "r,"
                : mode == O_WRONLY ? "w,"
                                   : "rw,");
    }
  }
  return facts;
}

// A name no other start has taken, created empty: readers skip empty files.
std::string ReserveRecordName(const char *folder) {
  std::string name = std::string(folder) + "/start-XXXXXX";
  int const reserved = mkstemp(name.data());
  if (reserved < 0) {
    return "";
  }
  close(reserved);
  return name;
}

bool ReplaceFile(const std::string &from, const std::string &to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

void WaitAsAskedTo() {
  const char *delay = std::getenv("VARNHOLT_RECORD_DELAY");
  if (delay != nullptr) {
    std::this_thread::sleep_for(std::chrono::duration<double>(std::strtod(delay, nullptr)));
  }
}
#endif

}  // namespace

int main(int argc, char **argv) {
#ifndef _WIN32
  WaitAsAskedTo();
#endif
  const char *folder = std::getenv("VARNHOLT_RECORDS");
  if (folder == nullptr) {
    return 1;
  }
  std::string const path = ReserveRecordName(folder);
  if (path.empty()) {
    return 1;
  }
  std::string record = StartFacts() + "\n";
  for (int i = 1; i < argc; ++i) {
    record.append(argv[i], std::strlen(argv[i]) + (i + 1 < argc ? 1 : 0));
  }
  // Written beside the reserved name and moved onto it when whole, so that a
  // reader never sees half of it.
  std::string const part = path + ".part";
  std::FILE *file = std::fopen(part.c_str(), "wb");
  if (file == nullptr) {
    return 1;
  }
  std::fwrite(record.data(), 1, record.size(), file);
  std::fclose(file);
  return ReplaceFile(part, path) ? 0 : 1;
}
