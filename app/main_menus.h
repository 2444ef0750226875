// The main window's menus: the command ids, the menu bar's softkeys and its
// "Menu" popup (133), the playback screen's softkeys (239 paused, 240
// playing), the list's context menu (241), and the rules that set their
// items' texts, enabled states and check marks before a popup opens.
//
// Every item is a QAction whose data() holds its command id (an int); the
// rules find items by that id, so they work on any popup and its submenus.
// Item texts carry their mnemonics ("&Delete"); the items whose commands
// have a key of the window (Delete, F5, Ctrl+O) show it.
#pragma once

#include <QString>

class QAction;
class QMenu;
class QWidget;

namespace lyb::app {

// Command ids of the menu items and softkeys.
enum Command : int {
    ID_CALL_BACK = 32771,
    ID_PLAY = 32772,
    ID_DELETE = 32773,
    ID_MARK_READ = 32775,
    ID_REFRESH = 32777,
    ID_SETTINGS = 32778,
    ID_OPEN_FILE = 32779,
    ID_ABOUT = 32780,
    ID_CHECK_FOR_UPDATE = 32785,
    ID_DONE = 32792,
    ID_SOFTKEY_PLAY = 32794,
    ID_SOFTKEY_PAUSE = 32797,
    ID_SHOW_DETAILS = 32803,
    ID_REPLY_WITH = 32816,
    ID_TIPS = 32817,
    ID_ADD_TO_CONTACTS = 32820,
    ID_FONT_MEDIUM = 32823,
    ID_FONT_SMALL = 32824,
    ID_FONT_LARGE = 32825,
    ID_SAVE_RECORDING_AS = 32830,
};

// The menus by their resource numbers.
enum class MenuId : int {
    MenuBar = 133,        // softkeys "Call Back" and "Menu"
    PausedScreen = 239,   // softkeys "Play" and "Done"
    PlayingScreen = 240,  // softkeys "Pause" and "Done"
    Context = 241,        // the list's context menu
};

// One softkey of the command bar. A softkey with command 0 opens the popup
// that buildPopup gives for its menu.
struct Softkey {
    QString text;
    int command = 0;
};

struct Softkeys {
    Softkey left;
    Softkey right;
};

// Returns the two softkeys of a command bar menu (MenuBar, PausedScreen or
// PlayingScreen); both empty for Context.
Softkeys softkeysOf(MenuId menu);

// Builds a popup owned by parent: for MenuBar the "Menu" popup with its
// "Tools" submenu; for Context the context menu; for the playback screen's
// menus its two softkeys as items, then "Save Recording As…".
QMenu* buildPopup(MenuId menu, QWidget* parent);

// Returns the command id an action stands for; 0 for separators and submenus.
int commandOf(const QAction* action);
// Finds the item with this command id in the popup or its submenus; null when absent.
QAction* findCommand(const QMenu* popup, int command);

// What the menu rules need to know of the window and its list.
struct MenuState {
    bool hasSelection = false;  // the list's selection mark names a row
    bool hasRecord = false;     // and that row holds a voicemail (not the placeholder)
    bool recordRead = false;    // that voicemail has been heard
    bool selectedPlaying =
        false;                 // the selected row is the current row and its player is not paused
    int detailsMode = 0;       // 0 one line per voicemail, 1 two lines
    int fontSize = 1;          // 0 Small, 1 Medium, 2 Large; others check no size
    bool usingAccount = true;  // false: the hint text stands in for the list
};

// Sets texts, enabled states and check marks of the popup and its submenus
// from state: "Play"/"Pause" and "Mark as Read"/"Mark as Unread" follow the
// selected voicemail; the voicemail's commands (Save Recording As… among
// them) are disabled without one;
// "Show Details" is checked in two-line mode, one font size is checked;
// without an account "Show Details" and "Refresh" are disabled. Items the
// popup does not have are left alone.
void applyMenuRules(QMenu* popup, const MenuState& state);

}  // namespace lyb::app
