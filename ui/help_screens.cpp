#include "ui/help_screens.h"

#include <QDir>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRegularExpression>
#include <QTextDocument>
#include <QVBoxLayout>

#include <limits>

#include "platform/names/names.h"
#include "platform/paths/paths.h"
#include "platform/waveout/waveout.h"
#include "ui/settings_values.h"

namespace lyb::ui {

namespace {

const QString kTips = QString::fromLatin1(names::kTips);

struct TipsPage {
    const char* file;
    const char* left;
    int leftCommand;
    const char* right;
    int rightCommand;
};

constexpr TipsPage kTipsPages[CTipsDlg::kPages] = {
    {"index.html", "Close", CTipsDlg::ID_CLOSE, "Next", CTipsDlg::ID_NEXT},
    {"tips2.html", "Previous", CTipsDlg::ID_PREVIOUS, "Next", CTipsDlg::ID_NEXT},
    {"tips3.html", "Previous", CTipsDlg::ID_PREVIOUS, "Next", CTipsDlg::ID_NEXT},
    {"tips4.html", "Previous", CTipsDlg::ID_PREVIOUS, "Done", CTipsDlg::ID_TIPS_DONE},
};

QString folderOrDefault(const QString& folder) {
    return folder.isEmpty() ? help_folder() : folder;
}

// The screens take the place of the window they open over, as the handheld's
// full-screen dialogs did; without one they get a phone-like size.
void fillOwner(QDialog* screen, QWidget* owner) {
    if (owner)
        screen->setGeometry(owner->window()->geometry());
    else
        screen->resize(360, 560);
}

// The page with the real fast factor in its fast-factor spans.
QString withFastFactor(const QByteArray& page) {
    // The pages say what the player does, whatever the copy on disk says.
    static const QRegularExpression factor(
        QStringLiteral("(<span id=\"fast-factor\">)[^<]*(</span>)"));
    QString text = QString::fromUtf8(page);
    return text.replace(
        factor, QStringLiteral("\\1%1\\2")
                    .arg(QString::fromStdString(waveout::RateFactorText(waveout::kRateFast))));
}

}  // namespace

QString help_folder() {
    return paths::help_folder();
}

QUrl help_file_url(const QString& folder, const QString& file) {
    return QUrl::fromLocalFile(folder + QLatin1Char('/') + file);
}

CHtmlView::CHtmlView(QWidget* parent) : QTextBrowser(parent) {
    setOpenExternalLinks(true);
    setAccessibleDescription(QStringLiteral("Help text; links open the pages they name"));
    // The pages run edge to edge otherwise.
    document()->setDocumentMargin(10);
}

QVariant CHtmlView::loadResource(int type, const QUrl& name) {
    const QVariant resource = QTextBrowser::loadResource(type, name);
    if (type == QTextDocument::HtmlResource && resource.isValid())
        return withFastFactor(resource.toByteArray());
    if (type != QTextDocument::HtmlResource || resource.isValid())
        return resource;
    const QString where = name.isLocalFile() ? name.toLocalFile() : name.toString();
    return QStringLiteral("<html><body><h3>Page not found</h3><p>%1</p></body></html>")
        .arg(where.toHtmlEscaped());
}

CHtmlScreen::CHtmlScreen(QWidget* parent)
    : QDialog(parent),
      view_(new CHtmlView(this)),
      left_(new QPushButton(this)),
      right_(new QPushButton(this)) {
    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(0, 0, 0, 0);
    for (QPushButton* key : {left_, right_}) {
        key->setAutoDefault(false);
        QSizePolicy policy = key->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        key->setSizePolicy(policy);
        bar->addWidget(key);
    }
    connect(left_, &QPushButton::clicked, this, [this] { softkey_pressed(true); });
    connect(right_, &QPushButton::clicked, this, [this] { softkey_pressed(false); });
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(view_, 1);
    layout->addLayout(bar);
    fillOwner(this, parent);
}

void CHtmlScreen::set_softkeys(const QString& left, const QString& right) {
    left_->setText(left);
    right_->setText(right);
    for (QPushButton* key : {left_, right_}) {
        key->setAccessibleName(key->text());
        key->setVisible(!key->text().isEmpty());
    }
    // Enter presses the key that goes on: "Next", "Done" or "OK".
    (right.isEmpty() ? left_ : right_)->setDefault(true);
    (right.isEmpty() ? right_ : left_)->setDefault(false);
}

CTipsDlg::CTipsDlg(const QString& folder, QWidget* parent)
    : CHtmlScreen(parent), folder_(folderOrDefault(folder)) {
    setWindowTitle(QStringLiteral("Lyrabell"));
    view()->setAccessibleName(QStringLiteral("Tips"));
    connect(view(), &QTextBrowser::sourceChanged, this, &CTipsDlg::follow_source);
    show_page(1);
}

QUrl CTipsDlg::page_url(int n) const {
    if (n < 1 || n > kPages)
        return {};
    return help_file_url(folder_, QString::fromLatin1(kTipsPages[n - 1].file));
}

void CTipsDlg::show_page(int n) {
    if (n < 1 || n > kPages)
        return;
    page_ = n;
    set_page_softkeys();
    view()->setSource(page_url(n));
}

void CTipsDlg::set_page_softkeys() {
    const TipsPage& page = kTipsPages[page_ - 1];
    set_softkeys(QString::fromLatin1(page.left), QString::fromLatin1(page.right));
}

void CTipsDlg::follow_source(const QUrl& url) {
    // A link may leave the source relative to the page it was on, and every
    // page lies in the one folder.
    const QString path = QDir::cleanPath(help_file_url(folder_, QString())
                                             .resolved(url)
                                             .adjusted(QUrl::RemoveFragment)
                                             .toLocalFile());
    for (int n = 1; n <= kPages; ++n) {
        if (n != page_ && path == QDir::cleanPath(page_url(n).toLocalFile())) {
            page_ = n;
            set_page_softkeys();
        }
    }
}

void CTipsDlg::run_command(int command) {
    switch (command) {
        case ID_NEXT:
            show_page(page_ + 1);
            break;
        case ID_PREVIOUS:
            show_page(page_ - 1);
            break;
        case ID_CLOSE:
        case ID_TIPS_DONE:
            accept();
            break;
        default:
            break;
    }
}

void CTipsDlg::softkey_pressed(bool left) {
    const TipsPage& page = kTipsPages[page_ - 1];
    run_command(left ? page.leftCommand : page.rightCommand);
}

CAboutBoxHtml::CAboutBoxHtml(const QString& folder, QWidget* parent) : CHtmlScreen(parent) {
    setWindowTitle(QStringLiteral("About Lyrabell"));
    view()->setAccessibleName(windowTitle());
    set_softkeys(QStringLiteral("OK"), QString());
    view()->clear();
    view()->setHtml(about_document(folderOrDefault(folder)));
}

QString CAboutBoxHtml::about_document(const QString& folder) {
    const QString picture = help_file_url(folder, QStringLiteral("about.gif"))
                                .toString(QUrl::FullyEncoded)
                                .toHtmlEscaped();
    return QStringLiteral(
               "<html><head><title>About Lyrabell</title></head><body>"
               "<table cellpadding=\"4\"><tr>"
               "<td align=\"center\" valign=\"middle\"><img src=\"%1\" alt=\"Lyrabell\"></td>"
               "<td><h3>Lyrabell</h3><i>Version " LYB_VERSION
               "</i></td>"
               "</tr></table><br></body></html>")
        .arg(picture);
}

void CAboutBoxHtml::softkey_pressed(bool left) {
    if (left)
        accept();
}

int show_tips(QWidget* owner, const QString& folder) {
    write_setting(kTips, 1);
    CTipsDlg tips(folder, owner);
    return tips.exec();
}

bool show_tips_at_first_start(QWidget* owner, const QString& folder) {
    if (read_setting(kTips, 0, std::numeric_limits<int>::max()) != 0)
        return false;
    show_tips(owner, folder);
    return true;
}

int show_about(QWidget* owner, const QString& folder) {
    CAboutBoxHtml about(folder, owner);
    return about.exec();
}

}  // namespace lyb::ui
