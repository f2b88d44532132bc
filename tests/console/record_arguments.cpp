// A stand-in address handler: the https handler under Wine, xdg-open
// elsewhere. Each start writes a new file in the folder that VARNHOLT_RECORDS
// names: one line of facts about how it was started, then its arguments,
// separated by NUL bytes. Elsewhere it first waits VARNHOLT_RECORD_DELAY
// seconds, as a browser that takes its time to start would.
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#include <chrono>
#include <thread>
#endif
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

#ifdef _WIN32
constexpr char FolderSeparator = '\\';

unsigned long ProcessId() { return GetCurrentProcessId(); }

// How the shell asked the handler to show its window.
std::string StartFacts() {
  STARTUPINFOA startup{};
  GetStartupInfoA(&startup);
  if ((startup.dwFlags & STARTF_USESHOWWINDOW) == 0) {
    return "show=unset";
  }
  return "show=" + std::to_string(startup.wShowWindow);
}
#else
constexpr char FolderSeparator = '/';

unsigned long ProcessId() { return static_cast<unsigned long>(getpid()); }

// The session and process group it runs in, and every open descriptor, each
// marked "null" where it is /dev/null.
std::string StartFacts() {
  std::string facts = "pid=" + std::to_string(getpid()) + " session=" + std::to_string(getsid(0)) +
                      " group=" + std::to_string(getpgrp()) + " descriptors=";
  struct stat null {};
  stat("/dev/null", &null);
  for (int descriptor = 0; descriptor < 1024; ++descriptor) {
    struct stat open {};
    if (fstat(descriptor, &open) == 0) {
      bool const isNull = S_ISCHR(open.st_mode) && open.st_rdev == null.st_rdev;
      facts += std::to_string(descriptor) + (isNull ? ":null," : ":other,");
    }
  }
  return facts;
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
  std::string const path = std::string(folder) + FolderSeparator + std::to_string(ProcessId());
  std::string record = StartFacts() + "\n";
  for (int i = 1; i < argc; ++i) {
    record.append(argv[i], std::strlen(argv[i]) + (i + 1 < argc ? 1 : 0));
  }
  // Renamed into place when whole, so that a reader never sees half of it.
  std::FILE *file = std::fopen((path + ".tmp").c_str(), "wb");
  if (file == nullptr) {
    return 1;
  }
  std::fwrite(record.data(), 1, record.size(), file);
  std::fclose(file);
  return std::rename((path + ".tmp").c_str(), path.c_str()) == 0 ? 0 : 1;
}
