#include "app/main_menus.h"

#include <QAction>
#include <QActionGroup>
#include <QKeySequence>
#include <QMenu>

#include <initializer_list>

namespace lyb::app {

namespace {

// One item of a menu table: a command, or a separator (no text). The '&'
// marks the item's mnemonic; key is the window's key for the command, shown
// beside the item.
struct Item {
    const char* text;
    int command;
    int key = 0;
};
constexpr Item kSeparator{nullptr, 0};
// UTF-8, as every item text is read.
constexpr const char* kSaveAsText = "Sa&ve Recording As\u2026";

// The items that act on the selected voicemail, in menu order.
constexpr Item kVoicemailItems[] = {
    {"&Delete", ID_DELETE, Qt::Key_Delete}, {"&Play", ID_PLAY},
    {"&Call Back", ID_CALL_BACK},           {"Reply &With", ID_REPLY_WITH},
    {"&Mark as Read", ID_MARK_READ},        {"&Add to Contacts", ID_ADD_TO_CONTACTS},
    {kSaveAsText, ID_SAVE_RECORDING_AS},
};

QAction* addCommand(QMenu* menu, const Item& item) {
    QAction* action = menu->addAction(QString::fromUtf8(item.text));
    action->setData(item.command);
    if (item.key != 0) {
        // The window's shortcut does the work; the item's own key acts only
        // while its menu has the focus, so the two never compete.
        action->setShortcut(QKeySequence(item.key));
        action->setShortcutContext(Qt::WidgetShortcut);
    }
    return action;
}

void addItems(QMenu* menu, std::initializer_list<Item> items) {
    for (const Item& item : items) {
        if (item.text)
            addCommand(menu, item);
        else
            menu->addSeparator();
    }
}

QMenu* addSubmenu(QMenu* menu, const char* title) {
    QMenu* submenu = menu->addMenu(QString::fromLatin1(title));
    submenu->menuAction()->setData(0);
    return submenu;
}

void buildMenuBarPopup(QMenu* menu) {
    for (const Item& item : kVoicemailItems)
        addCommand(menu, item);
    addItems(menu, {kSeparator,
                    {"&Show Details", ID_SHOW_DETAILS},
                    {"&Refresh", ID_REFRESH, Qt::Key_F5},
                    {"&Open File", ID_OPEN_FILE, (Qt::CTRL | Qt::Key_O).toCombined()},
                    kSeparator});
    QMenu* tools = addSubmenu(menu, "&Tools");
    addItems(tools, {{"&Settings", ID_SETTINGS}});
    QMenu* fontSize = addSubmenu(tools, "&Font Size");
    addItems(fontSize,
             {{"&Small", ID_FONT_SMALL}, {"&Medium", ID_FONT_MEDIUM}, {"&Large", ID_FONT_LARGE}});
    addItems(tools, {{"&Tips", ID_TIPS},
                     kSeparator,
                     {"Check For &Update", ID_CHECK_FOR_UPDATE},
                     {"&About", ID_ABOUT}});
    findCommand(menu, ID_SHOW_DETAILS)->setCheckable(true);
    // One size at most is checked; the group shows them as choices of one.
    auto* sizes = new QActionGroup(fontSize);
    sizes->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    for (QAction* action : fontSize->actions()) {
        action->setCheckable(true);
        sizes->addAction(action);
    }
}

void setEnabled(QMenu* popup, std::initializer_list<int> commands, bool enabled) {
    for (const int command : commands)
        if (QAction* action = findCommand(popup, command))
            action->setEnabled(enabled);
}

void setText(QMenu* popup, int command, const char* text) {
    if (QAction* action = findCommand(popup, command))
        action->setText(QString::fromLatin1(text));
}

}  // namespace

Softkeys softkeysOf(MenuId menu) {
    switch (menu) {
        case MenuId::MenuBar:
            return {{QStringLiteral("Call Back"), ID_CALL_BACK}, {QStringLiteral("Menu"), 0}};
        case MenuId::PausedScreen:
            return {{QStringLiteral("Play"), ID_SOFTKEY_PLAY}, {QStringLiteral("Done"), ID_DONE}};
        case MenuId::PlayingScreen:
            return {{QStringLiteral("Pause"), ID_SOFTKEY_PAUSE}, {QStringLiteral("Done"), ID_DONE}};
        case MenuId::Context:
            break;
    }
    return {};
}

QMenu* buildPopup(MenuId menu, QWidget* parent) {
    auto* popup = new QMenu(parent);
    switch (menu) {
        case MenuId::MenuBar:
            popup->setTitle(QStringLiteral("Menu"));
            buildMenuBarPopup(popup);
            break;
        case MenuId::Context:
            for (const Item& item : kVoicemailItems)
                addCommand(popup, item);
            break;
        case MenuId::PausedScreen:
        case MenuId::PlayingScreen: {
            const Softkeys keys = softkeysOf(menu);
            for (const Softkey& key : {keys.left, keys.right})
                popup->addAction(key.text)->setData(key.command);
            addItems(popup, {kSeparator, {kSaveAsText, ID_SAVE_RECORDING_AS}});
            break;
        }
    }
    return popup;
}

int commandOf(const QAction* action) {
    return action && !action->menu() ? action->data().toInt() : 0;
}

QAction* findCommand(const QMenu* popup, int command) {
    if (!popup || command == 0)
        return nullptr;
    for (QAction* action : popup->actions()) {
        if (QMenu* submenu = action->menu()) {
            if (QAction* found = findCommand(submenu, command))
                return found;
        } else if (commandOf(action) == command) {
            return action;
        }
    }
    return nullptr;
}

void applyMenuRules(QMenu* popup, const MenuState& state) {
    if (QAction* details = findCommand(popup, ID_SHOW_DETAILS)) {
        details->setEnabled(true);
        details->setChecked(state.detailsMode == 1);
    }
    const int sizes[] = {ID_FONT_SMALL, ID_FONT_MEDIUM, ID_FONT_LARGE};
    for (int size = 0; size < 3; ++size)
        if (QAction* action = findCommand(popup, sizes[size]))
            action->setChecked(state.fontSize == size);

    const bool withRecord = state.hasSelection && state.hasRecord;
    // Without a voicemail the two toggles show their first text, greyed.
    setText(popup, ID_PLAY, withRecord && state.selectedPlaying ? "&Pause" : "&Play");
    setText(popup, ID_MARK_READ,
            withRecord && state.recordRead ? "&Mark as Unread" : "&Mark as Read");
    setEnabled(popup,
               {ID_PLAY, ID_DELETE, ID_CALL_BACK, ID_MARK_READ, ID_REPLY_WITH, ID_ADD_TO_CONTACTS,
                ID_SAVE_RECORDING_AS},
               withRecord);

    setEnabled(popup, {ID_SHOW_DETAILS, ID_REFRESH}, state.usingAccount);
}

}  // namespace lyb::app
