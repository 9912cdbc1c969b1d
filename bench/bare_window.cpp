// The baseline for start-up: a bare program that registers a class and shows one window.
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  WNDCLASSA cls{};
  cls.lpfnWndProc = DefWindowProcA;
  cls.hInstance = instance;
  cls.lpszClassName = "barewindow";
  RegisterClassA(&cls);
  CreateWindowExA(0, "barewindow", "Bare", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 390, 155,
                  nullptr, nullptr, instance, nullptr);
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
  return 0;
}
