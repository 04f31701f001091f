// The tray program's entry on this platform: WinMain, called as Windows would call it.
#include "platform/program_environment.h"
#include "platform/win32.h"

int main(int argc, char** argv) {
  platform::EndProcess(platform::RunWinMain(argc, argv));
}
