// The progress window's thread: it waits out the first second, then makes
// the window, pumps its messages and reads the run's progress ten times a
// second, until the run closes it. The run's own thread never waits for it.
#include "platform/progress_window.h"

#include "platform/kill_points.h"
#include "platform/scoped_handle.h"
#include "platform/win32/dpi_calls.h"
#include "platform/win32/progress_layout.h"

namespace {

const wchar_t kClassName[] = L"QuorvexProgress";
constexpr UINT_PTR kRefreshTimer = 1;
constexpr UINT kRefreshEvery = 100;  // ms

std::wstring Wide(const std::string& ansi) {
  const int size = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()),
                                       nullptr, 0);
  std::wstring wide(size > 0 ? size : 0, L'\0');
  if (size > 0) {
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), &wide[0], size);
  }
  return wide;
}

class Lock {
 public:
  explicit Lock(CRITICAL_SECTION& section) : section_(section) { EnterCriticalSection(&section_); }
  ~Lock() { LeaveCriticalSection(&section_); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

 private:
  CRITICAL_SECTION& section_;
};

class Win32ProgressWindow : public ProgressWindow {
 public:
  explicit Win32ProgressWindow(const ProgressTexts& texts)
      : caption_(Wide(texts.caption)),
        warning_(Wide(texts.warning)),
        reason_(Wide(texts.shutdownReason)),
        widestCounts_(Wide(texts.widestCounts)) {
    InitializeCriticalSection(&section_);
  }
  ~Win32ProgressWindow() override {
    Close();
    DeleteCriticalSection(&section_);
  }

  bool StartThread() {
    finished_ = ScopedHandle(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!finished_.IsValid()) return false;
    thread_ = ScopedHandle(CreateThread(nullptr, 0, &Thread, this, 0, nullptr));
    return thread_.IsValid();
  }

  void Update(const ProgressView& view) override {
    Lock lock(section_);
    view_ = view;
  }

  void Close() override {
    if (!thread_.IsValid()) return;
    SetEvent(finished_.Get());
    WaitForSingleObject(thread_.Get(), INFINITE);
    thread_.Reset();
  }

 private:
  static DWORD WINAPI Thread(void* self) {
    static_cast<Win32ProgressWindow*>(self)->Run();
    return 0;
  }

  void Run() {
    // A run that ends within the first second shows no window.
    if (WaitForSingleObject(finished_.Get(), static_cast<DWORD>(ProgressShownAfter())) ==
        WAIT_OBJECT_0) {
      return;
    }
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSW windowClass{};
    // No Close: the run cannot be undone once it writes.
    windowClass.style = CS_NOCLOSE;
    windowClass.lpfnWndProc = &Procedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kClassName;
    RegisterClassW(&windowClass);
    window_ = CreateWindowExW(0, kClassName, caption_.c_str(),
                              WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
                              CW_USEDEFAULT, 100, 100, nullptr, nullptr, instance, this);
    if (!window_) return;
    for (int i = 0; i < kTexts; ++i) {
      // The file's path is cut with an ellipsis in its middle.
      const DWORD cut = i == kCurrent ? SS_PATHELLIPSIS : 0;
      texts_[i] = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_NOPREFIX | cut, 0,
                                  0, 0, 0, window_, nullptr, instance, nullptr);
    }
    SetWindowTextW(texts_[kCaption], caption_.c_str());
    SetWindowTextW(texts_[kWarning], warning_.c_str());
    LayOut(DpiForWindow(window_), true);
    ShowWindow(window_, SW_SHOWNORMAL);
    // Only the thread that made the window may say why the session should
    // not end; WM_QUERYENDSESSION is answered FALSE meanwhile.
    ShutdownBlockReasonCreate(window_, reason_.c_str());
    SetTimer(window_, kRefreshTimer, kRefreshEvery, nullptr);
    Refresh();
    HANDLE finished = finished_.Get();
    for (;;) {
      const DWORD woken = MsgWaitForMultipleObjects(1, &finished, FALSE, INFINITE, QS_ALLINPUT);
      if (woken != WAIT_OBJECT_0 + 1) break;
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
    }
    KillTimer(window_, kRefreshTimer);
    ShutdownBlockReasonDestroy(window_);
    DestroyWindow(window_);
    window_ = nullptr;
    if (font_) DeleteObject(font_);
    font_ = nullptr;
    UnregisterClassW(kClassName, instance);
  }

  // The texts at dpi; the window centred when first shown, else kept where
  // it is.
  void LayOut(UINT dpi, bool centre) {
    ProgressLayoutTexts texts{caption_, widestCounts_, L"x", warning_};
    ProgressLayout layout = LayOutProgress(dpi, texts);
    if (font_) DeleteObject(font_);
    font_ = layout.font;
    const RECT* rects[] = {&layout.caption, &layout.counts, &layout.current, &layout.warning};
    for (int i = 0; i < kTexts; ++i) {
      SendMessageW(texts_[i], WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
      MoveWindow(texts_[i], rects[i]->left, rects[i]->top, rects[i]->right - rects[i]->left,
                 rects[i]->bottom - rects[i]->top, TRUE);
    }
    bar_ = layout.bar;
    RECT frame{0, 0, layout.client.cx, layout.client.cy};
    AdjustWindowRectForDpi(&frame, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, 0, dpi);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    if (centre) {
      const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
      const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
      SetWindowPos(window_, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    } else {
      SetWindowPos(window_, nullptr, 0, 0, width, height, SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
    }
  }

  void Refresh() {
    ProgressView view;
    {
      Lock lock(section_);
      view = view_;
    }
    if (view.counts != shown_.counts) SetWindowTextW(texts_[kCounts], Wide(view.counts).c_str());
    if (view.current != shown_.current) SetWindowTextW(texts_[kCurrent], Wide(view.current).c_str());
    shown_ = view;
    InvalidateRect(window_, &bar_, FALSE);
  }

  // The bar, drawn here: no control library is loaded for it. While the kit
  // is counted a block sweeps across it.
  void PaintBar(HDC dc) {
    FillRect(dc, &bar_, GetSysColorBrush(COLOR_WINDOW));
    FrameRect(dc, &bar_, GetSysColorBrush(COLOR_BTNSHADOW));
    RECT inside = bar_;
    InflateRect(&inside, -2, -2);
    const int width = inside.right - inside.left;
    RECT done = inside;
    if (shown_.permille < 0) {
      const int block = width / 4;
      const int at = static_cast<int>((GetTickCount() / 10) % static_cast<DWORD>(width + block)) - block;
      done.left = inside.left + (at > 0 ? at : 0);
      done.right = inside.left + (at + block < width ? at + block : width);
    } else {
      done.right = inside.left + MulDiv(width, shown_.permille > 1000 ? 1000 : shown_.permille, 1000);
    }
    if (done.right > done.left) FillRect(dc, &done, GetSysColorBrush(COLOR_HIGHLIGHT));
  }

  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_NCCREATE) {
      SetWindowLongPtrW(window, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams));
    }
    auto* self = reinterpret_cast<Win32ProgressWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
      case WM_TIMER:
        if (self && self->window_) self->Refresh();
        return 0;
      case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        if (self) self->PaintBar(dc);
        EndPaint(window, &paint);
        return 0;
      }
      case WM_CLOSE:
        return 0;  // Alt+F4 too: the run must not be interrupted
      case WM_QUERYENDSESSION:
        return FALSE;
      case WM_DPICHANGED:
        if (self && self->window_) self->LayOut(HIWORD(w), false);
        return 0;
      default:
        break;
    }
    return DefWindowProcW(window, message, w, l);
  }

  enum { kCaption, kCounts, kCurrent, kWarning, kTexts };

  std::wstring caption_, warning_, reason_, widestCounts_;
  CRITICAL_SECTION section_;
  ProgressView view_;   // under section_
  ProgressView shown_;  // the window thread's
  ScopedHandle finished_;
  ScopedHandle thread_;
  HWND window_ = nullptr;
  HWND texts_[kTexts] = {};
  HFONT font_ = nullptr;
  RECT bar_{};
};

}  // namespace

std::unique_ptr<ProgressWindow> ProgressWindow::Start(const ProgressTexts& texts) {
  auto window = std::make_unique<Win32ProgressWindow>(texts);
  if (!window->StartThread()) return nullptr;
  return window;
}
