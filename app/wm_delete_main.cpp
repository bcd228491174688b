// rb-wm-delete WINDOW: asks an X11 window to close the way a window manager does when the user
// clicks its close button: a WM_PROTOCOLS client message carrying WM_DELETE_WINDOW, sent to
// the window itself. The end-to-end test needs it because plain Xvfb runs no window manager and
// xdotool can only destroy or kill a window, which skips the program's own closing.
//
// WINDOW is a decimal or 0x-prefixed window id on $DISPLAY. Exit codes: 0 sent, 1 the window
// does not take part in the protocol (WM_DELETE_WINDOW missing from its WM_PROTOCOLS) or the
// display or window is not there, 2 bad usage. Not installed with the program.
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

struct TFreeReply {
  void operator()(void* reply) const { std::free(reply); }
};
template <class T>
using TReply = std::unique_ptr<T, TFreeReply>;

struct TCloseConnection {
  void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};

xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
  const TReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
      connection, xcb_intern_atom(connection, 1, static_cast<uint16_t>(std::strlen(name)), name),
      nullptr));
  return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

bool ListsProtocol(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t protocols,
                   xcb_atom_t wanted) {
  const TReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
      connection, xcb_get_property(connection, 0, window, protocols, XCB_ATOM_ATOM, 0, 64),
      nullptr));
  if (!reply || reply->format != 32) return false;
  const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
  const int count = xcb_get_property_value_length(reply.get()) / 4;
  for (int i = 0; i < count; ++i)
    if (atoms[i] == wanted) return true;
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: rb-wm-delete WINDOW\n");
    return 2;
  }
  char* end = nullptr;
  const unsigned long id = std::strtoul(argv[1], &end, 0);
  if (end == argv[1] || *end != '\0' || id == 0 || id > 0xFFFFFFFFul) {
    std::fprintf(stderr, "rb-wm-delete: not a window id: %s\n", argv[1]);
    return 2;
  }
  const auto window = static_cast<xcb_window_t>(id);

  const std::unique_ptr<xcb_connection_t, TCloseConnection> connection(
      xcb_connect(nullptr, nullptr));
  if (xcb_connection_has_error(connection.get()) != 0) {
    std::fprintf(stderr, "rb-wm-delete: cannot open the display\n");
    return 1;
  }
  const xcb_atom_t protocols = Atom(connection.get(), "WM_PROTOCOLS");
  const xcb_atom_t delete_window = Atom(connection.get(), "WM_DELETE_WINDOW");
  if (protocols == XCB_ATOM_NONE || delete_window == XCB_ATOM_NONE) {
    std::fprintf(stderr, "rb-wm-delete: the display knows no WM_PROTOCOLS\n");
    return 1;
  }
  // A window that does not list the protocol would be destroyed by a window manager instead;
  // that is a failure of the window, not something to paper over here.
  if (!ListsProtocol(connection.get(), window, protocols, delete_window)) {
    std::fprintf(stderr, "rb-wm-delete: window 0x%lx does not take WM_DELETE_WINDOW\n", id);
    return 1;
  }

  xcb_client_message_event_t message;
  std::memset(&message, 0, sizeof message);
  message.response_type = XCB_CLIENT_MESSAGE;
  message.format = 32;
  message.window = window;
  message.type = protocols;
  message.data.data32[0] = delete_window;
  message.data.data32[1] = XCB_CURRENT_TIME;
  const xcb_void_cookie_t sent =
      xcb_send_event_checked(connection.get(), 0, window, XCB_EVENT_MASK_NO_EVENT,
                             reinterpret_cast<const char*>(&message));
  const TReply<xcb_generic_error_t> error(xcb_request_check(connection.get(), sent));
  if (error) {
    std::fprintf(stderr, "rb-wm-delete: sending to window 0x%lx failed (X error %d)\n", id,
                 error->error_code);
    return 1;
  }
  return 0;
}
