// Hands a parameter text to the system's own cmd and waits for it, for the
// stand-ins that take cmd's place.
#pragma once

#include <string>

#include "parameter_text.h"

// %SystemRoot%\system32\cmd.exe run with `parameters`, in %SystemRoot% or in
// the current directory; its exit code, 9001 without %SystemRoot%, 9002 when
// it cannot be started.
inline int RunSystemCmd(const std::wstring& parameters, bool inSystemRoot) {
  wchar_t root[MAX_PATH];
  DWORD length = GetEnvironmentVariableW(L"SystemRoot", root, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 9001;
  std::wstring cmd = std::wstring(root) + L"\\system32\\cmd.exe";
  std::wstring commandLine = L"\"" + cmd + L"\" " + parameters;

  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(cmd.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                      inSystemRoot ? root : nullptr, &startup, &process)) {
    return 9002;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}
