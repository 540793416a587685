// Test program: the about box with its log list in a process of its own. The program itself
// writes a log file only when something besides the start line was logged, which nothing in
// it does; this one logs its arguments, so the Wine tests can see the file written (or fail
// to be written) at the end. "--save PATH" calls SaveLog with that path.
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/Application.h"
#include "windows/AboutBox.h"

int main(int argc, char** argv) {
  Application.Title = "MVR Server";
  TAboutBoxFm about;
  about.Create();
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--save" && i + 1 < argc)
      about.SaveLog(argv[++i]);
    else
      about.Log(a);
  }
  std::printf("lines before the end: %u\n", static_cast<unsigned>(about.LogList()->Count()));
  about.Destroy();
  std::printf("ended\n");
  return 0;
}
