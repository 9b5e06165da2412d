// Stands in for cmd started from a network directory, where it cannot work:
// as the real one does there, it works in %SystemRoot% instead. It hands its
// own command line to the system's cmd, started in that directory, and exits
// with its code. Laid in the run's directory as cmd.exe, it is the cmd that
// the program's bare "cmd" finds first under Wine, whose own cmd has no such
// rule.
#include <string>

#include "parameter_text.h"

int main(int argc, char** argv) {
  wchar_t root[MAX_PATH];
  DWORD length = GetEnvironmentVariableW(L"SystemRoot", root, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 9001;
  std::wstring cmd = std::wstring(root) + L"\\system32\\cmd.exe";
  std::wstring commandLine = L"\"" + cmd + L"\" " + ParameterText(argc, argv);

  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(cmd.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, root,
                      &startup, &process)) {
    return 9002;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}
