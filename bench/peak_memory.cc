// Runs a program and prints its peak resident memory in KiB. A launcher this
// small keeps its own pages out of the child's count, which a fork of a large
// interpreter would add.
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  pid_t pid = fork();
  if (pid == 0) {
    execvp(argv[1], argv + 1);
    _exit(127);
  }
  int status;
  struct rusage usage;
  if (wait4(pid, &status, 0, &usage) < 0) return 1;
  fprintf(stderr, "%ld\n", usage.ru_maxrss);
  return 0;
}
