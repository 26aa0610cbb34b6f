// A program planted where an unquoted path with spaces would split (for
// example C:\Program.exe). If it is ever started it leaves "decoy-ran.txt"
// in the root of its drive.
#include <windows.h>

#include <cstdio>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  FILE* f = std::fopen("C:\\decoy-ran.txt", "a");
  if (f != nullptr) {
    std::fprintf(f, "%s\n", GetCommandLineA());
    std::fclose(f);
  }
  return 0;
}
