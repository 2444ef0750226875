#include "app/window_menus.h"

#include <QAction>
#include <QMenu>

namespace lyb::app {

namespace {

QAction* add(QMenu* menu, const char* text, int id) {
    QAction* action = menu->addAction(QString::fromLatin1(text));
    action->setData(id);
    return action;
}

void addVoicemailItems(QMenu* menu) {
    add(menu, "Delete", cmd::Delete);
    add(menu, "Play", cmd::Play);
    add(menu, "Call Back", cmd::CallBack);
    add(menu, "Reply With", cmd::ReplyWith);
    add(menu, "Mark as Read", cmd::MarkRead);
    add(menu, "Add to Contacts", cmd::AddToContacts);
}

void setEnabled(QMenu* menu, std::initializer_list<int> ids, bool enabled) {
    for (int id : ids)
        if (QAction* action = find_command(menu, id))
            action->setEnabled(enabled);
}

void setText(QMenu* menu, int id, const char* text) {
    if (QAction* action = find_command(menu, id))
        action->setText(QString::fromLatin1(text));
}

}  // namespace

QMenu* build_main_menu(QWidget* parent) {
    auto* menu = new QMenu(parent);
    menu->setTitle(QStringLiteral("Menu"));
    addVoicemailItems(menu);
    menu->addSeparator();
    add(menu, "Show Details", cmd::ShowDetails)->setCheckable(true);
    add(menu, "Refresh", cmd::Refresh);
    add(menu, "Open File", cmd::OpenFile);
    menu->addSeparator();
    QMenu* tools = menu->addMenu(QStringLiteral("Tools"));
    add(tools, "Settings", cmd::Settings);
    QMenu* font = tools->addMenu(QStringLiteral("Font Size"));
    add(font, "Small", cmd::FontSmall)->setCheckable(true);
    add(font, "Medium", cmd::FontMedium)->setCheckable(true);
    add(font, "Large", cmd::FontLarge)->setCheckable(true);
    add(tools, "Tips", cmd::Tips);
    tools->addSeparator();
    add(tools, "Check For Update", cmd::CheckForUpdate);
    add(tools, "About", cmd::About);
    return menu;
}

QMenu* build_context_menu(QWidget* parent) {
    auto* menu = new QMenu(parent);
    addVoicemailItems(menu);
    return menu;
}

QAction* find_command(QMenu* menu, int id) {
    for (QAction* action : menu->actions()) {
        if (!action->isSeparator() && !action->menu() && action->data().toInt() == id)
            return action;
        if (QMenu* sub = action->menu())
            if (QAction* found = find_command(sub, id))
                return found;
    }
    return nullptr;
}

void apply_menu_rules(QMenu* menu, const MenuState& state) {
    if (QAction* details = find_command(menu, cmd::ShowDetails)) {
        details->setEnabled(true);
        details->setChecked(state.detailsMode == 1);
    }
    const int fonts[] = {cmd::FontSmall, cmd::FontMedium, cmd::FontLarge};
    for (int size = 0; size < 3; ++size)
        if (QAction* action = find_command(menu, fonts[size]))
            action->setChecked(state.fontSize == size);

    const auto voicemailItems = {cmd::Play,     cmd::Delete,    cmd::CallBack,
                                 cmd::MarkRead, cmd::ReplyWith, cmd::AddToContacts};
    if (state.sel < 0 || !state.selHasRecord) {
        setEnabled(menu, voicemailItems, false);
    } else {
        setText(menu, cmd::Play, state.pauseOffered ? "Pause" : "Play");
        setText(menu, cmd::MarkRead, state.selRead ? "Mark as Unread" : "Mark as Read");
        setEnabled(menu, voicemailItems, true);
    }
    if (state.usingAccount == 0)
        setEnabled(menu, {cmd::ShowDetails, cmd::Refresh}, false);
}

}  // namespace lyb::app
