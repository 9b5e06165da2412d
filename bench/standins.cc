// Stand-ins for cmd and devcon on a native build, for the benchmark: built as
// two programs from this one file. Both exit at once. "cmd" gives a listing
// command its prepared listing from $NKBENCH_DIR by a hard link (so the
// listing's size costs nothing here); with $NKBENCH_LOG set, each start
// appends "program<TAB>parameters" to that log.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

namespace {

void Log(const char* program, const std::string& parameters) {
  const char* log = getenv("NKBENCH_LOG");
  if (!log) return;
  if (FILE* file = fopen(log, "a")) {
    fprintf(file, "%s\t%s\n", program, parameters.c_str());
    fclose(file);
  }
}

// " /C devcon findall *VID_E7A9* > devicelist.txt": the prepared listing of
// that name, replaced with ">" and appended to with ">>".
int RunCmd(const std::string& parameters) {
  size_t redirect = parameters.find('>');
  if (redirect == std::string::npos) return 0;  // del: nothing to delete here
  bool append = parameters.compare(redirect, 2, ">>") == 0;
  std::string target = parameters.substr(parameters.find_first_not_of("> ", redirect));
  const char* dir = getenv("NKBENCH_DIR");
  std::string source = std::string(dir ? dir : ".") + "/prepared-" + target;
  if (parameters.find("*QVA*") != std::string::npos) source += ".qva";
  if (!append) {
    unlink(target.c_str());
    return link(source.c_str(), target.c_str()) == 0 ? 0 : 1;
  }
  int in = open(source.c_str(), O_RDONLY), out = open(target.c_str(), O_WRONLY | O_APPEND);
  char buffer[65536];
  ssize_t n;
  while (in >= 0 && out >= 0 && (n = read(in, buffer, sizeof buffer)) > 0) {
    if (write(out, buffer, n) != n) break;
  }
  if (in >= 0) close(in);
  if (out >= 0) close(out);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string parameters = argc > 1 ? argv[1] : "";
  const char* name = strrchr(argv[0], '/');
  name = name ? name + 1 : argv[0];
  Log(name, parameters);
  return strcmp(name, "cmd") == 0 ? RunCmd(parameters) : 0;
}
