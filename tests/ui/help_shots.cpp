// Writes pictures of the details popup, every tips page and the about page
// into the folder given as the argument, named help-*@<ratio>x.png, at the
// screen's pixel ratio (run with QT_SCALE_FACTOR=2 for 2x): for people to
// look at. The pages are read from the help folder beside this program.
// Usage: help_shots FOLDER
#include "ui/details_popup.h"
#include "ui/help_screens.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>

#include <cstdio>

using namespace lyb::ui;

namespace {

bool save(QWidget* widget, const QString& path) {
    widget->show();
    QApplication::processEvents();
    const bool ok = widget->grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: help_shots FOLDER\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    const QString suffix = QStringLiteral("@%1x.png").arg(application.devicePixelRatio());
    bool ok = true;

    QWidget owner;
    owner.resize(360, 540);
    const int64_t received = QDateTime(QDate(2005, 4, 5), QTime(9, 5)).toSecsSinceEpoch();
    CTestDialog known(
        details_texts(QStringLiteral("Ada Lovelace"), QStringLiteral("4155550001"), received, 346),
        &owner);
    ok &= save(&known, folder.filePath(QStringLiteral("help-details") + suffix));
    CTestDialog unknown(details_texts(QString(), QStringLiteral("6175550002"), received, -1),
                        &owner);
    ok &= save(&unknown, folder.filePath(QStringLiteral("help-details-unknown") + suffix));

    CTipsDlg tips(QString(), &owner);
    for (int page = 1; page <= CTipsDlg::kPages; ++page) {
        tips.show_page(page);
        ok &= save(&tips, folder.filePath(QStringLiteral("help-tips%1").arg(page) + suffix));
    }
    CAboutBoxHtml about(QString(), &owner);
    ok &= save(&about, folder.filePath(QStringLiteral("help-about") + suffix));
    return ok ? 0 : 1;
}
