// Probe: reads and drives a running launcher from another process, printing JSON; the run
// command and the tests use it.
// Cross-process text comes back as UTF-16 under Wine, so the probe uses the W forms.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                      nullptr, nullptr);
  return out;
}

std::string Json(const std::wstring& text) {
  std::string out = "\"";
  for (unsigned char c : Utf8(text)) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string Num(long long value) { return std::to_string(value); }

std::wstring WindowText(HWND window) {
  const LRESULT length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  text.resize(wcslen(text.c_str()));
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

HWND FindLauncher() { return FindWindowW(L"launcherclass", nullptr); }

// The launcher window of one process: another launcher, ending or starting, may stand above it.
HWND LauncherOf(DWORD process) {
  for (HWND w = FindLauncher(); w; w = FindWindowExW(nullptr, w, L"launcherclass", nullptr)) {
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    if (owner == process) return w;
  }
  return nullptr;
}

std::string RectJson(const RECT& r) {
  return "[" + Num(r.left) + "," + Num(r.top) + "," + Num(r.right) + "," + Num(r.bottom) + "]";
}

// A window's rectangle in its parent's client coordinates.
RECT RectInParent(HWND window) {
  RECT r;
  GetWindowRect(window, &r);
  MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

std::string WindowJson(HWND window) {
  std::string out = "{\"hwnd\":" + Num(reinterpret_cast<INT_PTR>(window));
  out += ",\"class\":" + Json(ClassOf(window)) + ",\"text\":" + Json(WindowText(window));
  out += ",\"style\":" + Num(static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE)));
  out += ",\"exstyle\":" + Num(static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE)));
  out += ",\"id\":" + Num(GetWindowLongW(window, GWL_ID));
  out += ",\"enabled\":" + Num(IsWindowEnabled(window) ? 1 : 0);
  out += ",\"visible\":" + Num(IsWindowVisible(window) ? 1 : 0);
  if (ClassOf(window) == L"Button")
    out += ",\"check\":" + Num(SendMessageW(window, BM_GETCHECK, 0, 0));
  out += ",\"rect\":" + RectJson(GetParent(window) ? RectInParent(window) : RECT{});
  return out + "}";
}

std::string ComboJson(HWND combo) {
  std::string out = "{\"text\":" + Json(WindowText(combo)) + ",\"items\":[";
  const LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
  auto itemText = [combo](LRESULT i) {
    std::wstring item(static_cast<size_t>(SendMessageW(combo, CB_GETLBTEXTLEN, i, 0)) + 1, L'\0');
    SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item.data()));
    item.resize(wcslen(item.c_str()));
    return item;
  };
  // A long list is shown by its first entries and its last; the count tells the rest.
  for (LRESULT i = 0; i < count && i < 1000; ++i) out += (i ? "," : "") + Json(itemText(i));
  out += "],\"count\":" + Num(count);
  out += ",\"last\":" + (count > 0 ? Json(itemText(count - 1)) : std::string("null"));
  out += ",\"dropped\":" + Num(SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0));
  DWORD start = 0, end = 0;
  if (HWND edit = FindWindowExW(combo, nullptr, L"Edit", nullptr)) {
    SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    out += ",\"edit\":" + Num(reinterpret_cast<INT_PTR>(edit));
  }
  return out + ",\"selection\":[" + Num(start) + "," + Num(end) + "]}";
}

// Top-level windows of the launcher's process other than the main window (message boxes).
std::vector<HWND> OtherWindows(DWORD process, HWND main) {
  std::vector<HWND> found;
  for (HWND w = GetTopWindow(nullptr); w; w = GetWindow(w, GW_HWNDNEXT)) {
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    if (owner == process && w != main && IsWindowVisible(w)) found.push_back(w);
  }
  return found;
}

std::string BoxJson(HWND box) {
  std::string out = "{\"window\":" + WindowJson(box) +
                    ",\"owner\":" + Num(reinterpret_cast<INT_PTR>(GetWindow(box, GW_OWNER))) +
                    ",\"children\":[";
  bool first = true;
  for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    out += (first ? "" : ",") + WindowJson(c);
    first = false;
  }
  return out + "]}";
}

int Tree(HWND main) {
  DWORD process = 0;
  const DWORD thread = GetWindowThreadProcessId(main, &process);
  GUITHREADINFO gui{};
  gui.cbSize = sizeof gui;
  GetGUIThreadInfo(thread, &gui);
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  GetWindowPlacement(main, &placement);
  RECT outer, client;
  GetWindowRect(main, &outer);
  GetClientRect(main, &client);
  std::string out = "{\"main\":" + WindowJson(main) + ",\"pid\":" + Num(process);
  POINT origin{0, 0};
  ClientToScreen(main, &origin);
  out += ",\"outer\":" + RectJson(outer) + ",\"client\":" + RectJson(client);
  out += ",\"origin\":[" + Num(origin.x) + "," + Num(origin.y) + "]";
  out += ",\"iconic\":" + Num(IsIconic(main) ? 1 : 0) +
         ",\"normal\":" + RectJson(placement.rcNormalPosition);
  out += ",\"focus\":" + Num(reinterpret_cast<INT_PTR>(gui.hwndFocus));
  out += ",\"focusParent\":" +
         Num(reinterpret_cast<INT_PTR>(gui.hwndFocus ? GetParent(gui.hwndFocus) : nullptr));
  out += ",\"active\":" + Num(reinterpret_cast<INT_PTR>(gui.hwndActive));
  out += ",\"foreground\":" + Num(reinterpret_cast<INT_PTR>(GetForegroundWindow()));
  out += ",\"children\":[";
  HWND combo = nullptr;
  bool first = true;
  for (HWND c = GetWindow(main, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    out += (first ? "" : ",") + WindowJson(c);
    if (ClassOf(c) == L"ComboBox") combo = c;
    first = false;
  }
  out += "],\"combo\":" + (combo ? ComboJson(combo) : std::string("null"));
  out += ",\"boxes\":[";
  first = true;
  for (HWND box : OtherWindows(process, main)) {
    out += (first ? "" : ",") + BoxJson(box);
    first = false;
  }
  std::printf("%s]}\n", out.c_str());
  return 0;
}

HWND ChildWithText(HWND main, const wchar_t* text) {
  for (HWND c = GetWindow(main, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    if (WindowText(c) == text) return c;
  }
  return nullptr;
}

int Usage();

// A key by the name xdotool gives it: a letter or digit, or one of the few the tests press.
WORD VirtualKey(const std::wstring& name) {
  static const std::pair<const wchar_t*, WORD> kNamed[] = {
      {L"Escape", VK_ESCAPE}, {L"Return", VK_RETURN}, {L"Tab", VK_TAB},       {L"space", VK_SPACE},
      {L"Down", VK_DOWN},     {L"Up", VK_UP},         {L"F4", VK_F4},         {L"alt", VK_MENU},
      {L"shift", VK_SHIFT},   {L"ctrl", VK_CONTROL},  {L"BackSpace", VK_BACK}};
  for (const auto& [named, key] : kNamed) {
    if (name == named) return key;
  }
  return name.size() == 1 ? static_cast<WORD>(LOBYTE(VkKeyScanW(name[0]))) : 0;
}

INPUT KeyInput(WORD key, WCHAR unit, bool up) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = key;
  // The scan code too, as a keyboard gives it: some of the system's handling reads it.
  input.ki.wScan = unit ? unit : static_cast<WORD>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
  input.ki.dwFlags = (unit ? KEYEVENTF_UNICODE : 0) | (up ? KEYEVENTF_KEYUP : 0);
  return input;
}

// The platform's own input, as a user's keyboard and mouse give it to the window in front:
// "key" presses each chord (alt+Down: the modifiers held around the key), "type" types a text,
// "click" moves the mouse to a screen point and clicks the left button.
int Input(int argc, wchar_t** argv) {
  const std::wstring verb = argv[1];
  std::vector<INPUT> inputs;
  if (verb == L"click" && argc >= 4) {
    // The pointer put on the point, then the button pressed where it is. Not an absolute move:
    // Wine may leave one alone after a modal box closes, and its scaling to 0..65535 may land a
    // pixel off on Windows.
    const POINT target{wcstol(argv[2], nullptr, 10), wcstol(argv[3], nullptr, 10)};
    POINT at{};
    for (int tries = 0; tries < 50 && !(GetCursorPos(&at) && at.x == target.x && at.y == target.y);
         ++tries) {
      SetCursorPos(target.x, target.y);
      Sleep(20);
    }
    if (at.x != target.x || at.y != target.y) return 1;
    INPUT down{};
    down.type = INPUT_MOUSE;
    INPUT up = down;
    down.mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    up.mi.dwFlags = MOUSEEVENTF_LEFTUP;
    inputs = {down, up};
  }
  for (int i = 2; verb == L"type" && i < argc; ++i) {
    for (const wchar_t* unit = argv[i]; *unit; ++unit) {
      inputs.push_back(KeyInput(0, *unit, false));
      inputs.push_back(KeyInput(0, *unit, true));
    }
  }
  for (int i = 2; verb == L"key" && i < argc; ++i) {
    std::vector<WORD> chord;
    for (std::wstring rest = argv[i]; !rest.empty();) {
      const size_t plus = rest.find(L'+', 1);
      const WORD key = VirtualKey(rest.substr(0, plus));
      if (!key) return Usage();
      chord.push_back(key);
      rest = plus == std::wstring::npos ? L"" : rest.substr(plus + 1);
    }
    for (WORD key : chord) inputs.push_back(KeyInput(key, 0, false));
    for (auto key = chord.rbegin(); key != chord.rend(); ++key) {
      inputs.push_back(KeyInput(*key, 0, true));
    }
  }
  // Keys go to the window in front: where that is not the launcher's, they would reach another
  // program, so none is sent and the window is named.
  const HWND front = GetForegroundWindow();
  DWORD frontProcess = 0, launcherProcess = 0;
  GetWindowThreadProcessId(front, &frontProcess);
  for (HWND w = FindLauncher(); w && verb != L"click" && frontProcess != launcherProcess;
       w = FindWindowExW(nullptr, w, L"launcherclass", nullptr)) {
    GetWindowThreadProcessId(w, &launcherProcess);
  }
  if (verb != L"click" && (!front || frontProcess != launcherProcess)) {
    std::printf("the window in front is not a launcher's: %s (class %s) of process %lu\n",
                Json(WindowText(front)).c_str(), Json(ClassOf(front)).c_str(), frontProcess);
    return 2;
  }
  // One event at a time, with the pause a typist leaves, so that each is handled in turn.
  for (INPUT& input : inputs) {
    if (SendInput(1, &input, sizeof input) != 1) return 1;
    Sleep(20);
  }
  return inputs.empty() ? Usage() : 0;
}

// The screen's pixels in a rectangle of screen coordinates, as hexadecimal BGRX rows from the
// top: what a user sees, for the tests to compare.
int Pixels(int argc, wchar_t** argv) {
  if (argc < 6) return Usage();
  long at[4];
  for (int i = 0; i < 4; ++i) at[i] = wcstol(argv[i + 2], nullptr, 10);
  const int width = static_cast<int>(at[2]), height = static_cast<int>(at[3]);
  if (width <= 0 || height <= 0 || width > 8192 || height > 8192) return Usage();
  const HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
  const HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  const HGDIOBJ was = SelectObject(memory, bitmap);
  const bool copied = BitBlt(memory, 0, 0, width, height, screen, at[0], at[1], SRCCOPY);
  SelectObject(memory, was);
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  std::vector<unsigned char> bytes(static_cast<size_t>(width) * height * 4);
  const int rows =
      copied ? GetDIBits(memory, bitmap, 0, height, bytes.data(), &info, DIB_RGB_COLORS) : 0;
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  if (rows != height) return 1;
  std::string hex;
  hex.reserve(bytes.size() * 2 + 1);
  for (unsigned char b : bytes)
    hex += "0123456789abcdef"[b >> 4], hex += "0123456789abcdef"[b & 15];
  std::printf("%s\n", hex.c_str());
  return 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: probe wait MS | tree | post MSG WPARAM [LPARAM|=ControlText] |\n"
               "       send MSG WPARAM [LPARAM] | send-to CONTROL-TEXT MSG WPARAM | quit [MS] | "
               "close-box |\n"
               "       set-text TEXT | add-entry TEXT | boxes | key CHORD... | type TEXT |\n"
               "       click X Y | pixels X Y WIDTH HEIGHT | serve\n");
  return 2;
}

int Run(int argc, wchar_t** argv) {
  if (argc < 2) return Usage();
  const std::wstring verb = argv[1];
  if (verb == L"key" || verb == L"type" || verb == L"click") return Input(argc, argv);
  if (verb == L"pixels") return Pixels(argc, argv);
  if (verb == L"wait") {
    const DWORD deadline = GetTickCount() + (argc > 2 ? wcstoul(argv[2], nullptr, 10) : 10000);
    while (GetTickCount() < deadline) {
      HWND main = FindLauncher();
      if (main && IsWindowVisible(main) && FindWindowExW(main, nullptr, nullptr, L"X")) return 0;
      Sleep(20);
    }
    return 1;
  }
  if (verb == L"close-box") {
    // Every dialog box shown, whether or not the main window still exists.
    for (HWND w = GetTopWindow(nullptr); w; w = GetWindow(w, GW_HWNDNEXT)) {
      if (ClassOf(w) == L"#32770" && IsWindowVisible(w)) PostMessageW(w, WM_CLOSE, 0, 0);
    }
    return 0;
  }
  if (verb == L"boxes") {
    // Dialog boxes of any process, for reports shown before or without the main window, each
    // with whether its own process shows a launcher window.
    std::string out = "{\"boxes\":[";
    bool first = true;
    for (HWND w = GetTopWindow(nullptr); w; w = GetWindow(w, GW_HWNDNEXT)) {
      if (ClassOf(w) != L"#32770" || !IsWindowVisible(w)) continue;
      DWORD process = 0;
      GetWindowThreadProcessId(w, &process);
      const HWND main = LauncherOf(process);
      const std::string box = BoxJson(w);
      out += (first ? "" : ",") + box.substr(0, box.size() - 1) +
             ",\"main_visible\":" + Num(main && IsWindowVisible(main) ? 1 : 0) + "}";
      first = false;
    }
    std::printf("%s]}\n", out.c_str());
    return 0;
  }
  if (verb == L"quit") {
    // Every launcher, until none is left, so that the next one started is the only one.
    const DWORD patience = argc > 2 ? wcstoul(argv[2], nullptr, 10) : 5000;
    for (const DWORD deadline = GetTickCount() + patience; GetTickCount() < deadline; Sleep(20)) {
      HWND main = FindLauncher();
      if (!main) return 0;
      for (; main; main = FindWindowExW(nullptr, main, L"launcherclass", nullptr)) {
        PostThreadMessageW(GetWindowThreadProcessId(main, nullptr), WM_QUIT, 0, 0);
      }
    }
    return 1;
  }
  HWND main = FindLauncher();
  if (!main) {
    std::fprintf(stderr, "probe: no launcher window\n");
    return 1;
  }
  if (verb == L"tree") return Tree(main);
  if ((verb == L"post" || verb == L"send") && argc >= 4) {
    const UINT message = wcstoul(argv[2], nullptr, 0);
    const WPARAM wParam = wcstoul(argv[3], nullptr, 0);
    LPARAM lParam = 0;
    if (argc > 4) {
      lParam = argv[4][0] == L'=' ? reinterpret_cast<LPARAM>(ChildWithText(main, argv[4] + 1))
                                  : static_cast<LPARAM>(wcstol(argv[4], nullptr, 0));
    }
    if (verb == L"send") {
      DWORD_PTR result = 0;
      SendMessageTimeoutW(main, message, wParam, lParam, SMTO_ABORTIFHUNG, 3000, &result);
      return 0;
    }
    return PostMessageW(main, message, wParam, lParam) ? 0 : 1;
  }
  if (verb == L"send-to" && argc >= 5) {
    DWORD_PTR result = 0;
    SendMessageTimeoutW(ChildWithText(main, argv[2]), wcstoul(argv[3], nullptr, 0),
                        wcstoul(argv[4], nullptr, 0), 0, SMTO_ABORTIFHUNG, 3000, &result);
    return 0;
  }
  if ((verb == L"set-text" || verb == L"add-entry") && argc >= 3) {
    HWND combo = FindWindowExW(main, nullptr, L"ComboBox", nullptr);
    // The combo box answers CB_OKAY (0), or the new entry's place, or a negative error.
    const UINT message = verb == L"set-text" ? WM_SETTEXT : CB_ADDSTRING;
    return SendMessageW(combo, message, 0, reinterpret_cast<LPARAM>(argv[2])) < 0 ? 1 : 0;
  }
  return Usage();
}

// Runs requests read from standard input, one per line with its words separated by tabs (UTF-8),
// each answered by its output and a last line "=STATUS". One process serves a whole test run:
// a program start costs far more than the request.
int Serve() {
  std::string line;
  for (int c; (c = std::getchar()) != EOF;) {
    if (c != '\n') {
      line += static_cast<char>(c);
      continue;
    }
    std::vector<std::wstring> words{L"probe"};
    for (size_t start = 0, tab; start <= line.size(); start = tab + 1) {
      tab = line.find('\t', start);
      if (tab == std::string::npos) tab = line.size();
      const std::string word = line.substr(start, tab - start);
      std::wstring wide(word.size(), L'\0');
      wide.resize(static_cast<size_t>(
          MultiByteToWideChar(CP_UTF8, 0, word.data(), static_cast<int>(word.size()), wide.data(),
                              static_cast<int>(wide.size()))));
      words.push_back(wide);
    }
    std::vector<wchar_t*> args;
    for (std::wstring& word : words) args.push_back(word.data());
    const int status = Run(static_cast<int>(args.size()), args.data());
    std::printf("=%d\n", status);
    std::fflush(stdout);
    line.clear();
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 && std::wstring(argv[1]) == L"serve") return Serve();
  return Run(argc, argv);
}
