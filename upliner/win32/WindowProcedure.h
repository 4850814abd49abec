// A window that is an object of ours: its class, and its window procedure,
// a plain function that Windows calls, which finds the object through the
// pointer kept with the window and hands the message on to it.
#pragma once

#include <windows.h>

namespace zo {

// Registers the window class Name of this program's windows: the dialog
// face's background, the arrow cursor, Icon (none: the system's default).
inline void RegisterWindowClass(HINSTANCE Instance, const wchar_t* Name, WNDPROC Procedure, HICON Icon = nullptr) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = Procedure;
  windowClass.hInstance = Instance;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.hIcon = Icon;
  windowClass.lpszClassName = Name;
  RegisterClassExW(&windowClass);
}

// Hands Message for Window on to the object the window was created for (the
// last argument of CreateWindowExW): WM_NCCREATE keeps the object with the
// window and gives it its handle; the few messages before that go to
// DefWindowProcW.
template <typename TWindow>
LRESULT ForwardWindowMessage(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam, HWND TWindow::*Handle,
                             LRESULT (TWindow::*Handler)(UINT, WPARAM, LPARAM)) {
  auto* self = reinterpret_cast<TWindow*>(GetWindowLongPtrW(Window, GWLP_USERDATA));
  if (Message == WM_NCCREATE) {
    self = static_cast<TWindow*>(reinterpret_cast<CREATESTRUCTW*>(LParam)->lpCreateParams);
    self->*Handle = Window;
    SetWindowLongPtrW(Window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  if (self == nullptr) return DefWindowProcW(Window, Message, WParam, LParam);
  return (self->*Handler)(Message, WParam, LParam);
}

}  // namespace zo
