// Processor time of an idle message loop: a window and no timers, ten seconds of waiting in
// GetMessageA. The loop should sleep the whole time; the goal is under 50 ms.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/win32.h"

namespace {

LRESULT CALLBACK IdleProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

double ProcessCpuMilliseconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto ms = [](const timeval& time) { return time.tv_sec * 1000.0 + time.tv_usec / 1000.0; };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}

}  // namespace

int main() {
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &IdleProcedure;
  windowClass.lpszClassName = "IdleLoopBench";
  RegisterClassExA(&windowClass);
  HWND window =
      CreateWindowExA(0, "IdleLoopBench", "idle", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                      CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr);

  // After ten seconds another thread closes the window; until then the loop has nothing to do.
  std::thread closer([window] {
    std::this_thread::sleep_for(std::chrono::seconds(10));
    PostMessageA(window, WM_CLOSE, 0, 0);
  });
  const double before = ProcessCpuMilliseconds();
  const auto start = std::chrono::steady_clock::now();
  MSG message;
  unsigned messages = 0;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    ++messages;
    DispatchMessageA(&message);
  }
  const double used = ProcessCpuMilliseconds() - before;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  closer.join();
  std::printf(
      "idle message loop: %.1f ms of processor time in %.2f s (%u messages; goal < 50 ms)\n", used,
      seconds, messages);
  return used < 50.0 ? 0 : 1;
}
