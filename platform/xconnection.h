#pragma once
// A connection of the program's own to the X server that DISPLAY names, for
// what Qt's does not do or does too late, with the root window of its
// screen. Closed when it goes.
#include <xcb/xcb.h>

namespace tavlo {

class XConnection
{
public:
    XConnection();
    ~XConnection();
    XConnection(const XConnection &) = delete;
    XConnection &operator=(const XConnection &) = delete;

    bool ok() const { return !xcb_connection_has_error(m_connection); }
    xcb_connection_t *get() const { return m_connection; }
    xcb_window_t root() const { return m_root; }

private:
    xcb_connection_t *m_connection;
    xcb_window_t m_root = XCB_WINDOW_NONE;
};

} // namespace tavlo
