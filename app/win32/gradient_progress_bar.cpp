#include "app/win32/gradient_progress_bar.h"

#include <commctrl.h>

#include <cmath>

#include "platform/win32/utf16.h"

namespace orgkat {
namespace {

constexpr const wchar_t* kClassName = L"OrgkatGradientBar";
constexpr COLORREF kStartColour = RGB(0, 128, 0);
constexpr COLORREF kEndColour = RGB(192, 220, 192);

void RegisterClassOnce(HINSTANCE instance, WNDPROC proc) {
  WNDCLASSEXW cls{};
  if (GetClassInfoExW(instance, kClassName, &cls)) return;
  cls.cbSize = sizeof(cls);
  cls.lpfnWndProc = proc;
  cls.hInstance = instance;
  cls.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  cls.lpszClassName = kClassName;
  RegisterClassExW(&cls);
}

TRIVERTEX Vertex(LONG x, LONG y, COLORREF colour) {
  TRIVERTEX vertex{};
  vertex.x = x;
  vertex.y = y;
  vertex.Red = static_cast<COLOR16>(GetRValue(colour) << 8);
  vertex.Green = static_cast<COLOR16>(GetGValue(colour) << 8);
  vertex.Blue = static_cast<COLOR16>(GetBValue(colour) << 8);
  return vertex;
}

}  // namespace

GradientProgressBar::GradientProgressBar(HWND parent, int id, HINSTANCE instance) {
  RegisterClassOnce(instance, WindowProc);
  window_ = CreateWindowExW(0, kClassName, L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, parent,
                            reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
  SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));

  tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                             WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, window_, nullptr, instance, nullptr);
  TOOLINFOW tool{};
  tool.cbSize = sizeof(tool);
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = parent;
  tool.uId = reinterpret_cast<UINT_PTR>(window_);
  tool.lpszText = hint_.data();
  SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  SendMessageW(tooltip_, TTM_ACTIVATE, FALSE, 0);
}

GradientProgressBar::~GradientProgressBar() {
  // The tooltip is owned by the bar's window and goes with it.
  if (window_ != nullptr) {
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
  }
}

void GradientProgressBar::Changed() {
  if (window_ != nullptr) InvalidateRect(window_, nullptr, FALSE);
}

void GradientProgressBar::SetHint(const std::string& hint) {
  hint_ = Utf8ToUtf16(hint);
  if (window_ == nullptr) return;
  SetWindowTextW(window_, hint_.c_str());
  TOOLINFOW tool{};
  tool.cbSize = sizeof(tool);
  tool.hwnd = GetParent(window_);
  tool.uId = reinterpret_cast<UINT_PTR>(window_);
  tool.lpszText = hint_.data();
  SendMessageW(tooltip_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
}

void GradientProgressBar::SetShowHint(bool show) {
  if (tooltip_ != nullptr) SendMessageW(tooltip_, TTM_ACTIVATE, show ? TRUE : FALSE, 0);
}

void GradientProgressBar::Paint() {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window_, &paint);
  RECT client;
  GetClientRect(window_, &client);
  FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
  const LONG width = client.right - client.left;
  const auto filled = static_cast<LONG>(std::lround(Fraction() * width));
  if (filled > 0) {
    // The gradient spans the whole bar, so a colour stays at its place while the bar fills.
    TRIVERTEX vertices[2] = {Vertex(client.left, client.top, kStartColour),
                             Vertex(client.right, client.bottom, kEndColour)};
    GRADIENT_RECT span{0, 1};
    const int saved = SaveDC(dc);
    IntersectClipRect(dc, client.left, client.top, client.left + filled, client.bottom);
    GradientFill(dc, vertices, 2, &span, 1, GRADIENT_FILL_RECT_H);
    RestoreDC(dc, saved);
  }
  EndPaint(window_, &paint);
}

LRESULT CALLBACK GradientProgressBar::WindowProc(HWND window, UINT message, WPARAM wparam,
                                                 LPARAM lparam) {
  auto* self = reinterpret_cast<GradientProgressBar*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(window, message, wparam, lparam);
  switch (message) {
    case WM_PAINT:
      self->Paint();
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case PBM_GETPOS:
      return self->Position();
    case PBM_GETRANGE:
      return wparam != 0 ? 0 : self->Max();
    case WM_NCDESTROY:
      self->window_ = nullptr;
      self->tooltip_ = nullptr;
      break;
    default:
      break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace orgkat
