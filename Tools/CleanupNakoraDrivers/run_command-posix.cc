#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>

#include <string>

#include "print_line.h"
#include "run_command.h"

extern char** environ;

namespace {

// The reverse of the listing stream's mapping; nothing above U+00FF reaches a
// command line from a listing.
std::string NarrowBytes(const WString& text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (char16_t c : text) bytes += c <= 0xFF ? static_cast<char>(c) : '?';
  return bytes;
}

}  // namespace

int32_t RunCommand(const WString& program, const WString& parameters) {
  std::string file = NarrowBytes(program);
  std::string text = NarrowBytes(parameters);
  char* argv[] = {&file[0], &text[0], nullptr};

  // Like a hidden console of its own: nothing the program prints reaches our
  // report, only what it redirects into a file.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  int error = posix_spawnp(&pid, file.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    errno = error;
    ReportLaunchFailure();
    return -1;
  }

  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);  // as shells report it
  return 0;
}

void ReportLaunchFailure() {
  int code = errno;
  WString text = WidenBytes(strerror(code));
  PrintLine(kLaunchFailureFormat, kLaunchFailurePrefix, static_cast<int32_t>(code), text.c_str());
}
