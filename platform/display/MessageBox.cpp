#include "kvplatform/display/MessageBox.h"

#include "X11Display.h"
#include "kvplatform/process/Command.h"

#include <X11/keysym.h>
#include <poll.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "kvplatform/base/Log.h"

namespace kv::platform {
namespace {

// Shows the message with a dialog tool of the desktop, and waits for the
// user to close it; false when the tool is not installed or failed.
bool RunTool(const std::vector<std::string>& args) {
  // The user may take their time; the limit only keeps a wedged tool from
  // holding the program for ever.
  auto outcome = RunCommand(args, std::chrono::hours(24));
  // Exit status 0 or 1 is OK or closed; anything else means the tool failed.
  return outcome && outcome->exitCode >= 0 && outcome->exitCode <= 1;
}

std::vector<std::string> WrapLines(std::string_view text, size_t width) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    std::string_view paragraph = text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    std::string line;
    size_t at = 0;
    while (at < paragraph.size()) {
      size_t space = paragraph.find(' ', at);
      std::string_view word = paragraph.substr(at, space == std::string_view::npos ? std::string_view::npos : space - at);
      if (!line.empty() && line.size() + 1 + word.size() > width) {
        lines.push_back(line);
        line.clear();
      }
      if (!line.empty()) line += ' ';
      line.append(word);
      if (space == std::string_view::npos) break;
      at = space + 1;
    }
    lines.push_back(line);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return lines;
}

// A small dialog window of our own: the text, an icon and an OK button.
// Returns false when no window could be shown.
bool ShowOwnDialog(std::string_view title, std::string_view text, MessageIcon icon) {
  // A display that does not answer, or goes away while the dialog waits,
  // ends the wait instead of hanging or ending the program.
  auto display = OpenDisplay(DisplayName(), std::chrono::seconds(3));
  if (!display) return false;
  Display* d = display->get();
  int screen = DefaultScreen(d);
  XFontStruct* font = XLoadQueryFont(d, "-*-helvetica-medium-r-normal--14-*-*-*-*-*-iso8859-1");
  if (!font) font = XLoadQueryFont(d, "fixed");
  int lineHeight = font ? font->ascent + font->descent + 4 : 16;
  auto textWidth = [&](const std::string& s) {
    return font ? XTextWidth(font, s.c_str(), static_cast<int>(s.size())) : static_cast<int>(s.size()) * 7;
  };

  std::vector<std::string> lines = WrapLines(text, 56);
  int widest = 0;
  for (const auto& line : lines) widest = std::max(widest, textWidth(line));
  const int iconSize = 32, margin = 18, buttonW = 80, buttonH = 26;
  int width = std::max(margin * 3 + iconSize + widest, 260);
  int height = margin * 3 + std::max(iconSize, lineHeight * static_cast<int>(lines.size())) + buttonH;
  int x = (DisplayWidth(d, screen) - width) / 2, y = (DisplayHeight(d, screen) - height) / 2;

  unsigned long white = WhitePixel(d, screen), black = BlackPixel(d, screen);
  Window window = XCreateSimpleWindow(d, RootWindow(d, screen), x, y, static_cast<unsigned>(width),
                                      static_cast<unsigned>(height), 1, black, 0xf0f0f0);
  std::string titleText(title);
  XStoreName(d, window, titleText.c_str());
  Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
  XChangeProperty(d, window, XInternAtom(d, "_NET_WM_NAME", False), utf8, 8, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(titleText.c_str()), static_cast<int>(titleText.size()));
  Atom dialogType = XInternAtom(d, "_NET_WM_WINDOW_TYPE_DIALOG", False);
  XChangeProperty(d, window, XInternAtom(d, "_NET_WM_WINDOW_TYPE", False), XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(&dialogType), 1);
  XSizeHints hints{};
  hints.flags = PPosition | PMinSize | PMaxSize;
  hints.x = x, hints.y = y;
  hints.min_width = hints.max_width = width;
  hints.min_height = hints.max_height = height;
  XSetWMNormalHints(d, window, &hints);
  Atom deleteWindow = XInternAtom(d, "WM_DELETE_WINDOW", False);
  XSetWMProtocols(d, window, &deleteWindow, 1);
  XSelectInput(d, window, ExposureMask | KeyPressMask | ButtonPressMask | ButtonReleaseMask | StructureNotifyMask);
  GC gc = XCreateGC(d, window, 0, nullptr);
  if (font) XSetFont(d, gc, font->fid);
  XMapRaised(d, window);

  int buttonX = (width - buttonW) / 2, buttonY = height - margin - buttonH;
  auto paint = [&] {
    XColor color{};
    Colormap colormap = DefaultColormap(d, screen);
    color.red = icon == MessageIcon::Error ? 0xc800 : 0x2000;
    color.green = icon == MessageIcon::Error ? 0x2000 : 0x6000;
    color.blue = icon == MessageIcon::Error ? 0x2000 : 0xc000;
    XAllocColor(d, colormap, &color);
    XSetForeground(d, gc, color.pixel);
    XFillArc(d, window, gc, margin, margin, iconSize, iconSize, 0, 360 * 64);
    XSetForeground(d, gc, white);
    if (icon == MessageIcon::Error) {
      XSetLineAttributes(d, gc, 3, LineSolid, CapRound, JoinRound);
      XDrawLine(d, window, gc, margin + 10, margin + 10, margin + 22, margin + 22);
      XDrawLine(d, window, gc, margin + 22, margin + 10, margin + 10, margin + 22);
      XSetLineAttributes(d, gc, 1, LineSolid, CapButt, JoinMiter);
    } else {
      XFillRectangle(d, window, gc, margin + 14, margin + 14, 4, 12);
      XFillRectangle(d, window, gc, margin + 14, margin + 7, 4, 4);
    }
    XSetForeground(d, gc, black);
    int textX = margin * 2 + iconSize;
    for (size_t i = 0; i < lines.size(); ++i) {
      int baseline = margin + (font ? font->ascent : 12) + static_cast<int>(i) * lineHeight;
      XDrawString(d, window, gc, textX, baseline, lines[i].c_str(), static_cast<int>(lines[i].size()));
    }
    XSetForeground(d, gc, white);
    XFillRectangle(d, window, gc, buttonX, buttonY, buttonW, buttonH);
    XSetForeground(d, gc, black);
    XDrawRectangle(d, window, gc, buttonX, buttonY, buttonW, buttonH);
    int okWidth = textWidth("OK");
    XDrawString(d, window, gc, buttonX + (buttonW - okWidth) / 2, buttonY + buttonH / 2 + 5, "OK", 2);
  };

  // Events are taken only once the connection shows some: after a lost
  // connection Xlib's blocking calls are not safe, so the wait is a poll
  // and every call is followed by a look at the connection.
  bool done = false;
  while (!done) {
    int pending = XPending(d);
    if (ConnectionLost(d)) break;
    if (pending == 0) {
      pollfd connection{ConnectionNumber(d), POLLIN, 0};
      (void)::poll(&connection, 1, -1);
      continue;
    }
    XEvent event{};
    XNextEvent(d, &event);
    if (ConnectionLost(d)) break;
    switch (event.type) {
      case Expose:
        if (event.xexpose.count == 0) paint();
        break;
      case KeyPress: {
        KeySym key = XLookupKeysym(&event.xkey, 0);
        if (key == XK_Return || key == XK_KP_Enter || key == XK_Escape || key == XK_space) done = true;
        break;
      }
      case ButtonRelease:
        if (event.xbutton.x >= buttonX && event.xbutton.x <= buttonX + buttonW && event.xbutton.y >= buttonY &&
            event.xbutton.y <= buttonY + buttonH) {
          done = true;
        }
        break;
      case ClientMessage:
        if (static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow) done = true;
        break;
      case DestroyNotify:
        done = true;
        break;
      default:
        break;
    }
  }
  if (ConnectionLost(d)) return true;  // the dialog went with its display
  XFreeGC(d, gc);
  if (font) XFreeFont(d, font);
  XDestroyWindow(d, window);
  XSync(d, False);
  return true;
}

}  // namespace

void ShowMessageBox(std::string_view title, std::string_view text, MessageIcon icon) {
  LogError(text);
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) return;
  std::string titleText(title), bodyText(text);
  const char* kind = icon == MessageIcon::Error ? "--error" : "--info";
  if (RunTool({"zenity", kind, "--title", titleText, "--text", bodyText, "--no-markup"})) return;
  if (RunTool({"kdialog", "--title", titleText, icon == MessageIcon::Error ? "--error" : "--msgbox", bodyText})) return;
  if (!ShowOwnDialog(title, text, icon)) LogError("cannot show the message on the display " + std::string(display));
}

}  // namespace kv::platform
