// The upper area of the main window, one page at a time: the voicemail
// list, the hint text shown without an account, or the info panel of the
// playback screen (a local file, a caller, or a stored message's details).
#pragma once

#include <QStackedWidget>
#include <QString>

#include <functional>

class QLabel;
class QVBoxLayout;

namespace lyb::app {

class IVoicemailRecord;

class CUpperPanel final : public QStackedWidget {
public:
    // What the area shows; the numbers are those of the window's query message.
    enum class Page { List = 0, Hint = 1, LocalFile = 2, Caller = 3, Details = 4 };

    CUpperPanel(QWidget* list, QWidget* parent);

    // The list, or the hint text when no account is used.
    void showListOrHint(bool usingAccount);
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

private:
    void showInfo(Page page, const QString& text);

    QLabel* hint_;
    QLabel* info_;
    QWidget* infoPage_;
    QVBoxLayout* infoLayout_;
    Page page_ = Page::List;
};

}  // namespace lyb::app
