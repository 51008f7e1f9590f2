// The screen capturer's own connection to the X server, apart from Qt's: grabs and window
// lists run on worker threads, and Qt's connection belongs to the main thread. It knows the
// root window, whether the root's pixels can be read as 32-bit little-endian words, whether
// MIT-SHM is offered, and the atoms the window list asks for.
//
//   auto x = std::make_shared<X11Connection>();   // $DISPLAY
//   if (x->isConnected()) xcb_get_geometry(x->xcb(), x->root());
//
// Made and destroyed on the main thread; its xcb connection may be used from any thread
// (libxcb is thread-safe) and it lives as long as the last part that holds it.
#pragma once

#include "platform/x11/X11Atoms.h"

#include <QSize>

#include <xcb/xcb.h>

namespace quillet {

class X11Connection {
public:
    X11Connection();
    ~X11Connection();
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;

    // False when the X server could not be reached (or has no screen for us).
    bool isConnected() const { return connected; }
    xcb_connection_t* xcb() const { return connection; }
    xcb_window_t root() const { return rootWindow; }
    int screen() const { return screenNumber; }
    // The root window's size when the connection was made.
    QSize initialRootSize() const { return rootSize; }
    // Grabs are read as 32-bit little-endian pixels of a 24- or 32-bit visual.
    bool pixelsReadable() const { return readable; }
    bool offersShm() const { return shm; }
    const X11Atoms::Table& atoms() const { return atomTable; }

private:
    xcb_connection_t* connection = nullptr;
    int screenNumber = 0;
    xcb_window_t rootWindow = XCB_WINDOW_NONE;
    QSize rootSize;
    bool connected = false;
    bool readable = false;
    bool shm = false;
    X11Atoms::Table atomTable;
};

}  // namespace quillet
