// While an IMAP account's server cannot be reached the list shows what the
// account's cache holds (store::list_messages), and says so: the line
// "Offline — showing the list from HH:MM" above it, HH:MM the time of the
// last list the server gave. Marking and deleting need the server and are
// refused while it shows, with a box that says why; nothing is queued.
#pragma once

#include <QLabel>
#include <QString>

#include <cstdint>

namespace lyb::ui {
class CVoiceMailList;
}

namespace lyb::app {

class CRequestDispatcher;

class COfflineNotice final : public QLabel {
    Q_OBJECT

public:
    // The line for a list from `since` (seconds since 1970), in local time.
    static QString lineFor(int64_t since);

    // Follows the list's folder whenever the list is filled; refresh()
    // after the rows were brought up to date otherwise.
    COfflineNotice(ui::CVoiceMailList* list, QWidget* parent = nullptr);
    void refresh();

private:
    ui::CVoiceMailList* list_;
};

// Whether the list shows the cached list; then says that `change` (as in
// "cannot be deleted now") needs the server, in a box of the window's.
bool refuseWhileOffline(QWidget* parent, CRequestDispatcher& requests,
                        const ui::CVoiceMailList* list, const QString& change);

}  // namespace lyb::app
