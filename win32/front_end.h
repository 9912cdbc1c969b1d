// The window front end: the process-wide record and the Win32 side of the core's window interface.
#pragma once

#include <windows.h>
// windows.h first: the other platform headers need its types.
#include <shellapi.h>

#include <vector>

#include "core/launch.h"
#include "core/launcher_state.h"

namespace tovik::win32 {

inline constexpr char kClassName[] = "launcherclass";
inline constexpr char kWindowTitle[] = "Tovik";
inline constexpr UINT kAboutItemId = 0xFFFF;
inline constexpr int kMinimizeBoxId = 1984;
inline constexpr int kCloseBoxId = 2013;

// The command field's drop-down list as the launch history.
class ComboHistory : public HistoryList {
 public:
  size_t Count() override;
  std::optional<std::string> EntryText(size_t position) override;
  std::optional<size_t> Find(const std::string& text) override;
  void Append(const std::string& text) override;
  void BeginAppends(size_t count, size_t bytes) override;
  void EndAppends() override;
  void InsertAtTop(const std::string& text) override;
  void Delete(size_t position) override;

 private:
  // Entries this long or longer are not fetched with CB_GETLBTEXT.
  static constexpr LRESULT kLongestListFetch = 511;
  std::optional<std::string> EntryTextThroughField(size_t position);
  size_t longest_ = 0;       // no entry put in the list was longer
  std::vector<char> fetch_;  // reused by every fetch of a save
};

class Win32Window : public LauncherWindow {
 public:
  void RegisterMainClass() override;
  void CreateMainWindow(int32_t left, int32_t top) override;
  void CreateRemainingControls(int32_t doMinimize, int32_t doClose) override;
  int RunMessageLoop() override;
  HistoryList& History() override { return history_; }
  std::string CommandText() override;
  void SetCommandText(const std::string& text) override;
  void FocusCommandField() override;
  bool IsMinimizeChecked() override;
  bool IsCloseChecked() override;
  void Minimize() override;
  WindowPosition RestoredPosition() override;
  void ShowMessage(MessageOwner owner, const std::string& text, const std::string& caption,
                   unsigned type) override;
  void ReleaseWindowResources() override;

 private:
  ComboHistory history_;
};

// The one process-wide record: the core's state and the front end's handles.
struct FrontEndState {
  LauncherState core;
  Platform* platform = nullptr;
  HINSTANCE instance = nullptr;
  WNDCLASSA windowClass{};
  HWND mainWindow = nullptr;
  HWND cancelButton = nullptr;
  HWND browseButton = nullptr;
  HWND commandField = nullptr;
  HWND startButton = nullptr;
  HWND minimizeBox = nullptr;
  HWND closeBox = nullptr;
  HWND xButton = nullptr;
  HFONT font = nullptr;
  WNDPROC formerCancelProc = nullptr;
  WNDPROC formerBrowseProc = nullptr;
  WNDPROC formerStartProc = nullptr;
  WNDPROC formerCloseProc = nullptr;
  WNDPROC formerXProc = nullptr;
  MSG message{};
  // Set by SetCommandText: the next focus on the field puts the caret after the text.
  bool caretToEnd = false;
};

FrontEndState& Launcher();

// The restored rectangle's top-left moved from work-area to screen coordinates.
WindowPosition ScreenPositionOf(const RECT& restored, const RECT& workArea, const RECT& monitor);

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK CancelButtonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK BrowseButtonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK StartButtonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK CloseBoxProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK XButtonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void SyncOptionBoxes();
void HandleDroppedFiles(HDROP drop);
void BrowseForCommand();

}  // namespace tovik::win32
