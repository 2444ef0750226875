// The help screens: the tips (CTipsDlg, four HTML pages installed in the help
// folder beside the program) and the about page (CAboutBoxHtml, a document
// built in memory whose picture comes from the same folder). Each fills its
// owner's window, shows the HTML in a QTextBrowser that follows links (pages
// of the folder inside the view, web links in the desktop's browser), and
// has two softkeys at its bottom edge like the main window's command bar.
//
// Missing pages or picture are not checked for: the view shows its own short
// "page not found" text, or no picture.
#pragma once

#include <QDialog>
#include <QString>
#include <QTextBrowser>
#include <QUrl>

class QPushButton;

namespace lyb::ui {

// Returns the folder of the help files: "help" in the programs' data folder
// (beside the program in the build, share/lyrabell when installed).
QString help_folder();
// Returns the file URL of `file` in `folder`. The folder is taken as it is
// (blanks, "#" and "%" included); the URL encodes what it must.
QUrl help_file_url(const QString& folder, const QString& file);

// The HTML viewer of the help screens.
class CHtmlView : public QTextBrowser {
    Q_OBJECT
public:
    explicit CHtmlView(QWidget* parent = nullptr);

    // A page that cannot be read becomes a short page that names it.
    QVariant loadResource(int type, const QUrl& name) override;
};

// A window-filling dialog with the HTML view above two softkeys. A softkey
// with an empty text is hidden but keeps its place.
class CHtmlScreen : public QDialog {
    Q_OBJECT
public:
    CHtmlView* view() const { return view_; }
    QPushButton* left_key() const { return left_; }
    QPushButton* right_key() const { return right_; }

protected:
    // parent: the window whose place and size the screen takes; may be null.
    explicit CHtmlScreen(QWidget* parent);
    void set_softkeys(const QString& left, const QString& right);
    // Runs when a softkey is pressed; left tells which.
    virtual void softkey_pressed(bool left) = 0;

private:
    CHtmlView* view_;
    QPushButton* left_;
    QPushButton* right_;
};

class CTipsDlg : public CHtmlScreen {
    Q_OBJECT
public:
    // Softkey commands.
    static constexpr int ID_CLOSE = 32805;
    static constexpr int ID_NEXT = 32807;
    static constexpr int ID_PREVIOUS = 32810;
    static constexpr int ID_TIPS_DONE = 32814;
    static constexpr int kPages = 4;

    // Opens on page 1, read from folder (help_folder() when empty).
    explicit CTipsDlg(const QString& folder = QString(), QWidget* parent = nullptr);

    int page() const { return page_; }
    // Shows page n (1 to 4) with its softkeys; any other n changes nothing.
    void show_page(int n);
    // Runs a softkey command: Next, Previous, or Close and Done (accept).
    void run_command(int command);
    // The page's URL in this dialog's folder; empty for n outside 1 to 4.
    QUrl page_url(int n) const;

protected:
    void softkey_pressed(bool left) override;

private:
    // Follows a link that led to one of the pages: its number and softkeys.
    void follow_source(const QUrl& url);
    void set_page_softkeys();

    QString folder_;
    int page_ = 0;
};

class CAboutBoxHtml : public CHtmlScreen {
    Q_OBJECT
public:
    // Builds and shows the about document, its picture from folder
    // (help_folder() when empty).
    explicit CAboutBoxHtml(const QString& folder = QString(), QWidget* parent = nullptr);

    // Returns the about page: title "About Lyrabell", one table row with the
    // picture about.gif of folder centred in the first cell and "Lyrabell" as
    // a level-3 heading over "Version " and the project's version in
    // italics in the second.
    static QString about_document(const QString& folder);

protected:
    void softkey_pressed(bool left) override;
};

// Writes 1 to "Tips", then shows the tips over owner (may be null) until they
// are closed. folder: where the pages are, help_folder() when empty.
int show_tips(QWidget* owner, const QString& folder = QString());
// The start-up call: show_tips when "Tips" reads 0 (or is missing); true when
// it showed them.
bool show_tips_at_first_start(QWidget* owner, const QString& folder = QString());
// Shows the about page over owner (may be null) until OK.
int show_about(QWidget* owner, const QString& folder = QString());

}  // namespace lyb::ui
