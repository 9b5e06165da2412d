// The benchmark's baseline: starts the processes listed in a log
// ("program<TAB>parameters" per line) one after another, each waited for, the
// way any program would have to; nothing else.
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <sys/wait.h>

#include <fstream>
#include <string>
#include <vector>

extern char** environ;

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  std::ifstream log(argv[1]);
  std::vector<std::pair<std::string, std::string>> commands;
  for (std::string line; std::getline(log, line);) {
    size_t tab = line.find('\t');
    commands.emplace_back(line.substr(0, tab), line.substr(tab + 1));
  }
  for (auto& [program, parameters] : commands) {
    char* args[] = {&program[0], &parameters[0], nullptr};
    pid_t pid;
    if (posix_spawnp(&pid, program.c_str(), nullptr, nullptr, args, environ) != 0) return 1;
    int status;
    waitpid(pid, &status, 0);
  }
  return 0;
}
