// The viewer's trace lines (BrindleView with the trace bit of "Debug"),
// private to the viewer's sources.
#pragma once

#include "common/log.h"
#include "imagestore/viewer/viewer_host.h"

#include <QWidget>

#include <cstdint>

namespace brindle {

// The window's trace lines (BrindleView with the trace bit of "Debug"):
// the message each handler stands for, with its parameters as they would
// be posted (wp and lp).
class WindowTrace {
  public:
    WindowTrace(const ViewerHost& host, const QWidget* window, const char* name, unsigned msg,
                uint32_t wp = 0, uint32_t lp = 0)
        : window_(window), name_(name), msg_(msg), wp_(wp), lp_(lp),
          on_(host.TraceOn() && (g_nDebug.load(std::memory_order_relaxed) & DEBUG_TRACE) != 0) {
        if (on_)
            LogWrite("ENTER {  ImageWindowProc(%s) hwnd=%08X msg=%08X wp=%08X lp=%08X\n", name_,
                     Handle(), msg_, wp_, lp_);
    }
    ~WindowTrace() {
        if (on_)
            LogWrite("LEAVE }  ImageWindowProc(%s) hwnd=%08X msg=%08X wp=%08X lp=%08X\n", name_,
                     Handle(), msg_, wp_, lp_);
    }
    WindowTrace(const WindowTrace&) = delete;
    WindowTrace& operator=(const WindowTrace&) = delete;

  private:
    unsigned Handle() const { return static_cast<unsigned>(reinterpret_cast<uintptr_t>(window_)); }
    const QWidget* window_;
    const char* name_;
    unsigned msg_;
    uint32_t wp_;
    uint32_t lp_;
    bool on_;
};

// Message numbers and parameters of the trace lines.
inline constexpr unsigned MSG_SIZE = 0x0005;
inline constexpr unsigned MSG_INITDIALOG = 0x0110;
inline constexpr unsigned MSG_COMMAND = 0x0111;
inline constexpr unsigned MSG_SYSCOMMAND = 0x0112;
inline constexpr unsigned MSG_TIMER = 0x0113;
inline constexpr unsigned MSG_DRAW_IMAGE = 32764;
inline constexpr uint32_t TIMER_ID = 1;
inline constexpr uint32_t SIZE_RESTORED = 0, SIZE_MINIMIZED = 1, SIZE_MAXIMIZED = 2;
inline constexpr uint32_t SC_MINIMIZE = 0xF020, SC_CLOSE = 0xF060;
// The cancel command, which closing runs.
inline constexpr uint32_t COMMAND_CANCEL = 2;

inline uint32_t Low32(const void* p) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

// Two 16-bit halves in one parameter, low first.
inline uint32_t MakeParam(int low, int high) {
    return (static_cast<uint32_t>(high) & 0xFFFFu) << 16 | (static_cast<uint32_t>(low) & 0xFFFFu);
}

} // namespace brindle
