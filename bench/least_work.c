/* The least work that the tool's piped output allows: one write of the
   prompt for each read, one write of each failure message, getline and
   memmem. The end-to-end benchmark measures the tool against it. */
#define _GNU_SOURCE
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

int main(void) {
  static const char marker[] = "apps.microsoft.com/detail/";
  static const char failure[] = "Failed: Invalid url\n";
  char *line = NULL;
  size_t capacity = 0;
  for (;;) {
    if (write(STDOUT_FILENO, "Url: ", 5) < 0) break;
    ssize_t const length = getline(&line, &capacity, stdin);
    if (length < 0) break;
    if (memmem(line, (size_t)length, marker, sizeof marker - 1) == NULL &&
        write(STDERR_FILENO, failure, sizeof failure - 1) < 0) {
      break;
    }
  }
  free(line);
  return 0;
}
