#include "widgets/idle_time.h"

#include <QGuiApplication>

#include <dlfcn.h>

#include <mutex>

namespace brindle {

namespace {

// The parts of Xlib and libXss used here, declared as their public headers
// do, so that building needs neither development package.
struct Display;
using XWindow = unsigned long;
struct XScreenSaverInfo {
    XWindow window;
    int state;
    int kind;
    unsigned long til_or_since;
    unsigned long idle;
    unsigned long eventMask;
};

struct XssFunctions {
    Display* display = nullptr;
    XWindow root = 0;
    XScreenSaverInfo* (*allocInfo)() = nullptr;
    int (*queryInfo)(Display*, XWindow, XScreenSaverInfo*) = nullptr;
    int (*xfree)(void*) = nullptr;
};

template <typename F> bool Symbol(void* library, const char* name, F& function) {
    function = reinterpret_cast<F>(::dlsym(library, name));
    return function != nullptr;
}

// Opens a display connection of our own, kept for the life of the process
// (Qt's connection is not reachable through a public interface here).
bool LoadXss(XssFunctions& xss) {
    void* x11 = ::dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    void* xssLib = x11 ? ::dlopen("libXss.so.1", RTLD_NOW | RTLD_LOCAL) : nullptr;
    if (!xssLib)
        return false;
    Display* (*openDisplay)(const char*) = nullptr;
    XWindow (*defaultRoot)(Display*) = nullptr;
    int (*queryExtension)(Display*, int*, int*) = nullptr;
    if (!Symbol(x11, "XOpenDisplay", openDisplay) ||
        !Symbol(x11, "XDefaultRootWindow", defaultRoot) || !Symbol(x11, "XFree", xss.xfree) ||
        !Symbol(xssLib, "XScreenSaverQueryExtension", queryExtension) ||
        !Symbol(xssLib, "XScreenSaverAllocInfo", xss.allocInfo) ||
        !Symbol(xssLib, "XScreenSaverQueryInfo", xss.queryInfo))
        return false;
    xss.display = openDisplay(nullptr);
    if (!xss.display)
        return false;
    int nEvent = 0, nError = 0;
    if (!queryExtension(xss.display, &nEvent, &nError))
        return false;
    xss.root = defaultRoot(xss.display);
    return true;
}

} // namespace

uint32_t IdleMilliseconds() {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()) ||
        QGuiApplication::platformName() != QLatin1String("xcb"))
        return 0;
    static XssFunctions xss;
    static bool fLoaded = false;
    static std::once_flag once;
    std::call_once(once, [] { fLoaded = LoadXss(xss); });
    if (!fLoaded)
        return 0;
    XScreenSaverInfo* info = xss.allocInfo();
    if (!info)
        return 0;
    uint32_t nIdle = 0;
    if (xss.queryInfo(xss.display, xss.root, info))
        nIdle = uint32_t(info->idle);
    xss.xfree(info);
    return nIdle;
}

} // namespace brindle
