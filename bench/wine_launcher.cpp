// bench_launcher TMP PROGRAM: starts PROGRAM with TMP and TEMP set to TMP (Wine takes neither from
// Linux), waits for it, and prints one line: wall time from CreateProcess to the process's end and
// its exit code. (Wine gives no memory counters or times of another process; the benchmark reads
// those from Linux.)
// bench_launcher --poll-cost N: prints what N cancel polls (a 100 ms wait on an unsignalled
// manual-reset event) really take here, for comparison with their nominal 100 ms.
// bench_launcher --ui-cost N: prints what one per-entry progress report costs here: a worker thread
// sets a progress bar and a static text that the main thread owns, repainting each at once, N times.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "program_run.h"

namespace {

double ElapsedMs(const LARGE_INTEGER& start, const LARGE_INTEGER& end) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

int RunProgram(const char* folder, const char* program) {
  ProgramStart how;
  how.temp = Widen(folder);
  Program run;
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  if (!run.Start(program, how)) {
    printf("error=CreateProcess %lu\n", run.startError());
    return 1;
  }
  run.WaitForEnd(INFINITE);
  QueryPerformanceCounter(&end);
  printf("elapsed_ms=%.3f exit=%lu\n", ElapsedMs(start, end), run.ExitCode());
  return 0;
}

int MeasurePolls(int count) {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  for (int i = 0; i < count; ++i) WaitForSingleObject(event, 100);
  QueryPerformanceCounter(&end);
  CloseHandle(event);
  printf("poll_ms=%.3f\n", ElapsedMs(start, end) / count);
  return 0;
}

struct UiCostRun {
  HWND progress;
  HWND percent;
  HWND window;
  int count;
  double milliseconds;
};

// The worker's per-entry report, as the setup program makes it: bar position, repaint, percent
// text, repaint, each a synchronous call into the window's thread.
DWORD WINAPI ReportProgressRepeatedly(void* argument) {
  UiCostRun* run = static_cast<UiCostRun*>(argument);
  LARGE_INTEGER start, end;
  QueryPerformanceCounter(&start);
  char text[32];
  for (int i = 0; i < run->count; ++i) {
    SendMessageA(run->progress, PBM_SETPOS, static_cast<WPARAM>(i % 101), 0);
    UpdateWindow(run->progress);
    snprintf(text, sizeof text, "%d%%", i % 101);
    SetWindowTextA(run->percent, text);
    UpdateWindow(run->percent);
  }
  QueryPerformanceCounter(&end);
  run->milliseconds = ElapsedMs(start, end) / run->count;
  PostMessageA(run->window, WM_CLOSE, 0, 0);
  return 0;
}

LRESULT CALLBACK UiCostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

int MeasureProgressReports(int count) {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = UiCostWindowProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "BenchUiCost";
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  RegisterClassA(&windowClass);
  UiCostRun run = {};
  run.count = count;
  run.window = CreateWindowA("BenchUiCost", "Setup", WS_OVERLAPPED | WS_CAPTION | WS_VISIBLE, 100, 100, 320, 120,
                             nullptr, nullptr, windowClass.hInstance, nullptr);
  run.progress = CreateWindowA(PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, 10, 10, 290, 20, run.window, nullptr,
                               windowClass.hInstance, nullptr);
  run.percent = CreateWindowA("STATIC", "", WS_CHILD | WS_VISIBLE, 10, 40, 100, 20, run.window, nullptr,
                              windowClass.hInstance, nullptr);
  SendMessageA(run.progress, PBM_SETRANGE, 0, MAKELPARAM(1, 100));
  UpdateWindow(run.window);
  HANDLE worker = CreateThread(nullptr, 0, ReportProgressRepeatedly, &run, 0, nullptr);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  WaitForSingleObject(worker, INFINITE);
  CloseHandle(worker);
  printf("report_ms=%.3f\n", run.milliseconds);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && strcmp(argv[1], "--poll-cost") == 0) return MeasurePolls(atoi(argv[2]));
  if (argc == 3 && strcmp(argv[1], "--ui-cost") == 0) return MeasureProgressReports(atoi(argv[2]));
  if (argc != 3) {
    fprintf(stderr, "usage: bench_launcher TMP PROGRAM | --poll-cost N | --ui-cost N\n");
    return 2;
  }
  return RunProgram(argv[1], argv[2]);
}
