// The main window's command ids, its menus (the "Menu" popup of the menu bar
// and the list's context menu) and the rules that set their items' texts,
// checks and enabled states each time one opens.
#pragma once

#include <QString>

class QAction;
class QMenu;
class QWidget;

namespace lyb::app {

namespace cmd {
constexpr int CallBack = 32771;
constexpr int Play = 32772;
constexpr int Delete = 32773;
constexpr int MarkRead = 32775;
constexpr int Refresh = 32777;
constexpr int Settings = 32778;
constexpr int OpenFile = 32779;
constexpr int About = 32780;
constexpr int CheckForUpdate = 32785;
constexpr int Done = 32792;
constexpr int SoftPlay = 32794;
constexpr int SoftPause = 32797;
constexpr int ShowDetails = 32803;
constexpr int ReplyWith = 32816;
constexpr int Tips = 32817;
constexpr int AddToContacts = 32820;
constexpr int FontMedium = 32823;
constexpr int FontSmall = 32824;
constexpr int FontLarge = 32825;
}  // namespace cmd

// What the rules look at.
struct MenuState {
    int sel = -1;               // the list's selection mark; negative: none
    bool selHasRecord = false;  // sel names a voicemail (not the placeholder)
    bool pauseOffered = false;  // sel is the current row and its player plays
    bool selRead = false;       // the voicemail of sel is read
    int detailsMode = 0;        // 0 or 1
    int fontSize = 1;           // 0, 1, 2
    int usingAccount = 1;       // 0: the hint text replaces the list
};

// The "Menu" popup with its "Tools" submenu; every action carries its
// command id as data().toInt(). Owned by parent.
QMenu* build_main_menu(QWidget* parent);
// The list's context menu.
QMenu* build_context_menu(QWidget* parent);
// Applies the rules to one popup (items it does not hold are left alone).
void apply_menu_rules(QMenu* menu, const MenuState& state);
// The action of a command id in a popup or its submenus; null when absent.
QAction* find_command(QMenu* menu, int id);

}  // namespace lyb::app
