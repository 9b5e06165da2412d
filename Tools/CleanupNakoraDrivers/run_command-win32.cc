// windows.h first: shellapi.h relies on its types.
#include <windows.h>

#include <shellapi.h>

#include "print_line.h"
#include "run_command.h"

namespace {

LPCWSTR AsWin32(const WString& text) { return reinterpret_cast<LPCWSTR>(text.c_str()); }

}  // namespace

int32_t RunCommand(const WString& program, const WString& parameters) {
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  // No error box for a program that cannot be found: in an unattended run
  // nobody could close it, and the run would stall instead of reporting.
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.lpFile = AsWin32(program);
  info.lpParameters = AsWin32(parameters);
  info.nShow = SW_HIDE;
  DWORD exitCode = 0;
  if (!ShellExecuteExW(&info)) {
    ReportLaunchFailure();
    return -1;
  }
  // The shell "succeeds" on a name that leads to no program, such as a folder
  // called devcon in the current directory; counting that as exit code 0
  // would report removals that never ran.
  if (!info.hProcess) {
    PrintLine(kNoProcessFormat, kLaunchFailurePrefix, program.c_str());
    return -1;
  }
  WaitForSingleObject(info.hProcess, INFINITE);
  GetExitCodeProcess(info.hProcess, &exitCode);
  CloseHandle(info.hProcess);
  return static_cast<int32_t>(exitCode);
}

void ReportLaunchFailure() {
  DWORD code = GetLastError();
  LPWSTR text = nullptr;
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
      nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&text), 0,
      nullptr);
  // Without a text the buffer was never allocated: neither read nor free it.
  bool haveText = length != 0 && text != nullptr;
  const char16_t* shown =
      haveText ? reinterpret_cast<const char16_t*>(text) : u"(no system text for this error)";
  PrintLine(kLaunchFailureFormat, kLaunchFailurePrefix, static_cast<int32_t>(code), shown);
  if (haveText) LocalFree(text);
}
