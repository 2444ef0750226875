// The upper area of the main window, one page at a time: the voicemail
// list, the hint text shown without an account, the info panel of the
// playback screen (a local file, a caller, or a stored message's details),
// or, in the list's place, why the chosen account cannot be read, with the
// button that opens the settings. Under the pages, a line says when the
// player has no sound output.
#pragma once

#include <QStackedWidget>
#include <QString>

#include <functional>

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace lyb::app {

class IVoicemailRecord;

class CUpperPanel final : public QStackedWidget {
public:
    // What the area shows; the numbers are those of the window's query message.
    enum class Page { List = 0, Hint = 1, LocalFile = 2, Caller = 3, Details = 4, Problem = 5 };

    static constexpr const char* kNoSoundText = "No sound output — playing silently";

    CUpperPanel(QWidget* list, QWidget* parent);

    // The list (the account problem in its place while there is one), or the
    // hint text when no account is used.
    void showListOrHint(bool usingAccount);
    // Sets why the account cannot be read (empty: it can); shown in the
    // list's place from now on, at once when the list is showing.
    void setAccountProblem(const QString& text);
    QString accountProblem() const;
    // The info panel with the local file's name, or with the caller when one is given.
    void showFile(const QString& path, const QString& caller);
    // "Message From: ... Length: ... Received: ..." for a stored message.
    void showDetails(const IVoicemailRecord& record,
                     const std::function<QString(const QString&)>& formatNumber);

    Page page() const { return page_; }
    // The info panel's text; empty while it is not shown.
    QString infoText() const;
    QLabel* hint() const { return hint_; }
    QLabel* info() const { return info_; }
    // The account problem's "Settings..." button, which has the focus while
    // the problem shows: Enter, Space or Alt+S press it. The window connects
    // it to its Settings command.
    QPushButton* settingsButton() const { return settings_; }

    // The line that says the player has no sound output, shown or hidden;
    // it belongs under the pages, over the player strip (the window places it).
    QLabel* soundNotice() const { return noSound_; }
    void showSoundNotice(bool shown);

protected:
    // The window's own keys (Enter plays, Space changes speed) give way to
    // the focused Settings button.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showInfo(Page page, const QString& text);

    QLabel* hint_;
    QLabel* info_;
    QWidget* problemPage_;
    QLabel* problem_;
    QPushButton* settings_;
    QLabel* noSound_;
    QWidget* infoPage_;
    QVBoxLayout* infoLayout_;
    Page page_ = Page::List;
};

}  // namespace lyb::app
