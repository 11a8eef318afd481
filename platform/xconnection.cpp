#include "platform/xconnection.h"

namespace tavlo {

XConnection::XConnection()
{
    int screenNumber = 0;
    m_connection = xcb_connect(nullptr, &screenNumber);
    if (!ok())
        return;
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    if (screens.rem)
        m_root = screens.data->root;
}

XConnection::~XConnection()
{
    xcb_disconnect(m_connection);
}

} // namespace tavlo
