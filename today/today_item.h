// liblybtoday.so: the Today item. A host loads the library, calls
// InitializeCustomItem with its record and a parent widget, and then sends the
// item refresh queries; the item counts the new voicemails of the account
// chosen in Lyrabell's settings and shows "You have no new voicemails" or "You
// got N new voicemails" beside the program's icon. A click starts Lyrabell
// from the library's own folder. The library does not link Lyrabell: it shares
// the registry value "Message Store", the store and the install folder.
//
// How the window-system words of the item's design map here:
//   window class, item window   the CTodayItem widget; the class and window
//                               name (the display name "Lyrabell") are its
//                               object name and window title; the class's
//                               white background brush is unused, as the
//                               erase step asks the host instead
//   module instance, load and   the library's base address (dladdr), kept by
//   unload                      a load constructor; the icon is loaded there
//                               when a GUI application exists, else at the
//                               entry point, and freed by the unload destructor
//   window procedure            CTodayItem's event handlers: paintEvent (the
//                               erase step, then paint), mousePressEvent (pen
//                               down), mouseReleaseEvent (pen up), event() for
//                               the refresh query; destroy needs nothing
//   window messages to and      WindowMessage events (today_protocol.h), sent
//   from the parent             or posted to the parent widget
//   device context              the QPainter on the item widget
//   stock system font and the   QGuiApplication::font(), and its size in
//   UI font size                pixels as the platform reports it
//   screen dots per inch        the primary screen's logical dots per inch
//   the shell's ready event     the named event "SYSTEM/ShellAPIReady"
//                               (named_event.h)
//   shell execute "Open"        desktop::shellExecuteOpen (a spawn, no shell)
//   "LybToday.dll" and          liblybtoday.so and the program lyrabell in the
//   "Lyrabell.exe"              same folder
#pragma once

#include "today/today_protocol.h"

extern "C" {
// See InitializeCustomItemFn. Exported with C linkage under this name.
__attribute__((visibility("default"))) QWidget* InitializeCustomItem(
    lyb::today::TodayListItem* item, QWidget* parent);
}
