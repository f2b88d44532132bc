#include "console/platform.h"

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>
#include <array>
#include <csignal>
#include <cstdlib>
#include <string>
#include <string_view>

// Not every unistd.h declares it.
extern char **environ;  // NOLINT(readability-redundant-declaration)

namespace {

#ifdef __APPLE__
constexpr const char *AddressOpener = "open";
#else
constexpr const char *AddressOpener = "xdg-open";
#endif

// Written past the streams, which the caller has flushed, straight to the
// terminal that they share.
void WriteControlSequence(int terminal, std::string_view sequence) {
  while (!sequence.empty()) {
    ssize_t const written = write(terminal, sequence.data(), sequence.size());
    if (written <= 0) {
      return;
    }
    sequence.remove_prefix(static_cast<std::size_t>(written));
  }
}

// The SGR sequence that renders a console attribute as a Windows console
// host renders it on a VT terminal: its default, 7, is the terminal's own
// colours; other values pick the foreground from the attribute's bits.
std::string ColourSequence(WORD attributes) {
  constexpr WORD ConsoleDefault = 7;
  if (attributes == ConsoleDefault) {
    return "\033[m";
  }
  // Windows orders the colour bits blue, green, red; ANSI red, green, blue.
  unsigned const blue = attributes & 1U;
  unsigned const green = (attributes >> 1U) & 1U;
  unsigned const red = (attributes >> 2U) & 1U;
  unsigned const intense = (attributes >> 3U) & 1U;
  unsigned const colour = (intense != 0 ? 90U : 30U) + red + 2U * green + 4U * blue;
  return "\033[" + std::to_string(colour) + "m";
}

// The folders searched for the opener: PATH, or the system's default path
// where PATH is unset.
std::string OpenerSearchPath() {
  if (const char *path = std::getenv("PATH")) {
    return path;
  }
  std::string path(confstr(_CS_PATH, nullptr, 0), '\0');
  if (!path.empty()) {
    confstr(_CS_PATH, path.data(), path.size());
    path.pop_back();
  }
  return path;
}

// Set before main runs. A write to a pipe that nobody reads then fails, as it
// does on Windows, rather than ending the process; and the system reaps
// openers as they end, so none is left as a zombie however many are started.
[[maybe_unused]] bool const SignalsSet =
    std::signal(SIGPIPE, SIG_IGN) != SIG_ERR && std::signal(SIGCHLD, SIG_IGN) != SIG_ERR;

}  // namespace

BOOL SetConsoleTitleA(LPCSTR title) {
  if (isatty(STDOUT_FILENO) == 0) {
    return 0;
  }
  WriteControlSequence(STDOUT_FILENO, std::string("\033]0;") + title + "\a");
  return 1;
}

HANDLE GetStdHandle(DWORD stdHandle) {
  if (stdHandle != STD_OUTPUT_HANDLE || isatty(STDOUT_FILENO) == 0) {
    return INVALID_HANDLE_VALUE;
  }
  return STDOUT_FILENO;
}

BOOL GetConsoleMode(HANDLE console, LPDWORD mode) {
  *mode = 0;
  return console == INVALID_HANDLE_VALUE ? 0 : 1;
}

BOOL SetConsoleTextAttribute(HANDLE console, WORD attributes) {
  if (console == INVALID_HANDLE_VALUE) {
    return 0;
  }
  WriteControlSequence(console, ColourSequence(attributes));
  return 1;
}

// Starts the opener with the address as its only argument, never through a
// shell, and without waiting for it. Like a program the Windows shell starts,
// it is independent of this one: a session of its own, so Ctrl+C and closing
// the terminal leave it running and it has no terminal to reach, and nothing
// inherited but /dev/null as its standard streams.
HINSTANCE ShellExecuteA(HWND /*owner*/, LPCSTR /*operation*/, LPCSTR file, LPCSTR /*parameters*/,
                        LPCSTR /*directory*/, INT /*showCommand*/) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  for (int const stream : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    posix_spawn_file_actions_addopen(&actions, stream, "/dev/null",
                                     stream == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0);
  }
  int flags = POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF;
#ifdef __APPLE__
  flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
#else
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
#endif
  posix_spawnattr_setflags(&attributes, static_cast<short>(flags));
  // The opener gets the usual handling of the signals this process changed.
  sigset_t defaultSignals;
  sigemptyset(&defaultSignals);
  sigaddset(&defaultSignals, SIGCHLD);
  sigaddset(&defaultSignals, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaultSignals);

  // The spawn functions take the argument vector as non-const for historical
  // reasons only; they do not write to it.
  std::array<char *, 3> arguments{const_cast<char *>(AddressOpener), const_cast<char *>(file),
                                  nullptr};
  std::string const searched = OpenerSearchPath();
  std::string_view folders = searched;
  std::string opener;
  while (!folders.empty()) {
    std::size_t const colon = folders.find(':');
    std::string_view const folder = folders.substr(0, colon);
    folders.remove_prefix(colon == std::string_view::npos ? folders.size() : colon + 1);
    // An empty or relative entry names the current folder, where anybody may
    // have left a program of that name.
    if (!folder.starts_with('/')) {
      continue;
    }
    opener.assign(folder).append("/").append(AddressOpener);
    pid_t child = 0;
    if (access(opener.c_str(), X_OK) == 0 &&
        posix_spawn(&child, opener.c_str(), &actions, &attributes, arguments.data(), environ) ==
            0) {
      break;
    }
  }

  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  // Nobody examines the result: an opener that cannot start is not reported.
  return nullptr;
}
