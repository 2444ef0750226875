// bench_voicemail_list [--dir DIR] [COUNT]: populates the voicemail list from
// a synthetic Inbox of COUNT voicemails (default 10000, bench_inbox.h) with
// callers named against as many contacts (every other voicemail's number
// belongs to one), side by side with the store's own record building for the
// same Inbox, three runs taking turns; then paints every page of the list
// (two lines, Large) while scrolling through all rows, and reports the time
// per page and the bytes the process read while painting (the rows paint
// from the model's memory, so none). Targets: population at most 1.5 s and
// at most twice the store's building, peak memory under 200 MiB, a page in
// under 4 ms.
//
// bench_voicemail_list --shots DIR: writes pictures of the list in both modes
// and all three sizes to DIR/list-*.png (run with QT_SCALE_FACTOR=2 for the
// high-density ones, named @2x). The row symbols are drawn here when the
// program's resources lack them.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHBoxLayout>
#include <QImage>
#include <QLibraryInfo>
#include <QPainter>
#include <QPainterPath>
#include <QProcess>
#include <QResource>
#include <QScrollBar>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "bench/store/bench_inbox.h"
#include "ui/voicemail_list.h"

namespace {

using namespace lyb::bench;
using lyb::ui::CVoiceMailList;

// Bytes the process has read through system calls so far.
long long bytesRead() {
    return procValue("io", "rchar");
}

double threadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

void writeContacts(const QString& folder, int count) {
    QDir().mkpath(folder);
    for (int i = 0; i < count; ++i) {
        QFile f(QStringLiteral("%1/%2.vcf").arg(folder).arg(i, 5, 10, QLatin1Char('0')));
        f.open(QIODevice::WriteOnly);
        // Every other voicemail (555 1000000 + 2k) is from a contact.
        f.write(QStringLiteral("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Given%1 Family%1\r\n"
                               "TEL;TYPE=CELL:+1 555 %2\r\nEND:VCARD\r\n")
                    .arg(i)
                    .arg(1000000 + 2 * i)
                    .toUtf8());
    }
}

double median(std::vector<double> v) {
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

int runBench(const QString& dir, int count) {
    const QString root = dir + QStringLiteral("/Maildir");
    if (!QFile::exists(root + QStringLiteral("/tmp")))
        makeInbox(root, count);
    const QString contacts = dir + QStringLiteral("/contacts");
    if (!QFile::exists(contacts))
        writeContacts(contacts, count);
    QFile accounts(dir + QStringLiteral("/accounts.conf"));
    accounts.open(QIODevice::WriteOnly);
    accounts.write("Bench = " + root.toUtf8() + "\n");
    accounts.close();
    qputenv("LYRABELL_ACCOUNTS", QFile::encodeName(accounts.fileName()));
    qputenv("LYRABELL_CONTACTS", QFile::encodeName(contacts));
    qputenv("LYRABELL_REGION", "US");

    CVoiceMailList list;
    list.resize(640, 15 * 44 + 2 * list.frameWidth());
    list.show();
    lyb::store::CMapiSession session;
    lyb::store::logon(session);

    std::vector<double> storeTimes, listTimes;
    long peak = 0;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer timer;
        timer.start();
        {
            auto store = lyb::store::open_store_by_name(session, QStringLiteral("bench"));
            auto inbox = store ? lyb::store::open_inbox(*store) : nullptr;
            std::vector<lyb::store::CEntryInfo> rows;
            if (inbox && lyb::store::list_messages(*inbox, rows))
                lyb::store::open_voicemails(*inbox, rows);
        }
        storeTimes.push_back(timer.nsecsElapsed() / 1e9);
        list.clear();
        resetPeak();
        timer.restart();
        list.populate(session, QStringLiteral("bench"));
        listTimes.push_back(timer.nsecsElapsed() / 1e9);
        peak = std::max(peak, peakKiB());
    }
    int named = 0;
    for (int i = 0; i < list.row_count(); ++i)
        named += list.record_at(i)->caller_name().startsWith(QLatin1String("Given"));
    std::printf(
        "%d voicemails, %d contacts: list population %.3f s (median %.3f s, first %.3f s), "
        "store's records %.3f s (median %.3f s), ratio %.2f (medians %.2f); peak memory %.1f "
        "MiB; %d rows, %d callers named\n",
        count, count, *std::min_element(listTimes.begin(), listTimes.end()), median(listTimes),
        listTimes[0], *std::min_element(storeTimes.begin(), storeTimes.end()), median(storeTimes),
        *std::min_element(listTimes.begin(), listTimes.end()) /
            *std::min_element(storeTimes.begin(), storeTimes.end()),
        median(listTimes) / median(storeTimes), peak / 1024.0, list.row_count(), named);

    // Every page, top to bottom, painted into an image as the screen would be.
    list.set_details_mode(1);
    list.set_font_size(2);
    list.set_current_row(3);
    QImage page(list.viewport()->size() * list.devicePixelRatioF(), QImage::Format_RGB32);
    page.setDevicePixelRatio(list.devicePixelRatioF());
    list.viewport()->render(&page);       // fonts and glyphs are loaded once
    std::vector<double> pages, pagesCpu;  // wall time, this thread's processor time
    const long long first = bytesRead();  // reading the count reads bytes itself
    const long long itself = bytesRead() - first;
    const long long before = bytesRead();
    QScrollBar* bar = list.verticalScrollBar();
    for (int value = bar->minimum(); value <= bar->maximum(); value += bar->pageStep()) {
        bar->setValue(value);
        QElapsedTimer timer;
        timer.start();
        const double cpu = threadCpuSeconds();
        list.viewport()->render(&page);
        pages.push_back(timer.nsecsElapsed() / 1e6);
        pagesCpu.push_back((threadCpuSeconds() - cpu) * 1e3);
    }
    const long long read = bytesRead() - before - itself;
    std::sort(pages.begin(), pages.end());
    std::sort(pagesCpu.begin(), pagesCpu.end());
    std::printf(
        "painting a page of %d rows (two lines, Large): median %.3f ms, 95th percentile %.3f "
        "ms, slowest %.3f ms over %zu pages (processor time: median %.3f ms, 95th percentile "
        "%.3f ms); %lld bytes read while painting\n",
        list.viewport()->height() / list.row_height(), pages[pages.size() / 2],
        pages[pages.size() * 95 / 100], pages.back(), pages.size(), pagesCpu[pagesCpu.size() / 2],
        pagesCpu[pagesCpu.size() * 95 / 100], read);
    return 0;
}

// Draws throwaway row symbols and registers them as the program's resources,
// so that the pictures show where the symbols go.
void provideSymbols(const QString& dir) {
    if (QFile::exists(QStringLiteral(":/images/row_play.png")))
        return;
    QString qrc = QStringLiteral("<RCC><qresource prefix=\"/images\">");
    for (const char* name : {"row_unread", "row_play", "row_pause"}) {
        for (int scale : {1, 2}) {
            QImage image(22 * scale, 16 * scale, QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::transparent);
            QPainter p(&image);
            p.setRenderHint(QPainter::Antialiasing);
            p.scale(scale, scale);
            if (QByteArray(name) == "row_unread") {
                p.setBrush(QColor(0xF0, 0xA0, 0x20));
                p.setPen(Qt::NoPen);
                p.drawEllipse(QRectF(7, 4, 8, 8));
            } else {
                p.setBrush(QColor(0xD4, 0xA0, 0x30));
                p.setPen(QColor(0x8A, 0x60, 0x10));
                p.drawEllipse(QRectF(3.5, 0.5, 15, 15));
                p.setBrush(Qt::white);
                p.setPen(Qt::NoPen);
                if (QByteArray(name) == "row_play") {
                    QPainterPath tri;
                    tri.moveTo(9, 4.5);
                    tri.lineTo(15, 8);
                    tri.lineTo(9, 11.5);
                    p.drawPath(tri);
                } else {
                    p.drawRect(QRectF(8, 4.5, 2, 7));
                    p.drawRect(QRectF(12, 4.5, 2, 7));
                }
            }
            p.end();
            const QString file = QStringLiteral("%1%2.png")
                                     .arg(QLatin1String(name))
                                     .arg(scale == 2 ? QStringLiteral("@2x") : QString());
            image.save(dir + QLatin1Char('/') + file);
            qrc += QStringLiteral("<file>%1</file>").arg(file);
        }
    }
    qrc += QStringLiteral("</qresource></RCC>");
    QFile q(dir + QStringLiteral("/symbols.qrc"));
    q.open(QIODevice::WriteOnly);
    q.write(qrc.toUtf8());
    q.close();
    const QString rcc = QLibraryInfo::path(QLibraryInfo::LibraryExecutablesPath) + "/rcc";
    QProcess::execute(rcc, {QStringLiteral("-binary"), q.fileName(), QStringLiteral("-o"),
                            dir + QStringLiteral("/symbols.rcc")});
    QResource::registerResource(dir + QStringLiteral("/symbols.rcc"));
}

int runShots(const QString& out) {
    QTemporaryDir temporary;
    const QString dir = temporary.path();
    provideSymbols(dir);
    const QString root = dir + QStringLiteral("/Maildir");
    for (const char* sub : {"cur", "new", "tmp"})
        QDir().mkpath(root + QLatin1Char('/') + QLatin1String(sub));
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    struct Mail {
        qint64 ago;
        QByteArray caller;
        int seconds;
        bool read;
    } mails[] = {
        {3600, "From: \"Rita Moreno\" <4155550123>", 42, false},
        {7200, "Caller ID: +44 20 7946 0958", 75, true},
        {86400 + 3600, "From: \"Okafor, Chidi\" <6175550199>", 8, false},
        {3 * 86400,
         "From: \"Bartholomew Fitzgerald-Montgomery the Third of Westchester County\" <2125550147>",
         125, true},
        {9 * 86400, "Caller ID: 5550100", -1, true},
        {12 * 86400, "Caller Name: Lena Fischer", 3, false},
    };
    int n = 0;
    for (const Mail& m : mails) {
        const QByteArray when = QDateTime::fromSecsSinceEpoch(now - m.ago, Qt::UTC)
                                    .toString(Qt::RFC2822Date)
                                    .toLatin1();
        QByteArray audio = m.seconds < 0 ? QByteArray("RIFF") : gsmWave(m.seconds);
        QByteArray text = mail(n, "message.wav", "audio/wav", audio);
        text.replace("Caller ID: 555-" + QByteArray::number(1000000 + n), m.caller);
        const QByteArray oldDate = QDateTime::fromSecsSinceEpoch(1796117400 - 60 * n, Qt::UTC)
                                       .toString(Qt::RFC2822Date)
                                       .toLatin1();
        text.replace(oldDate, when);
        text.replace("Voice Mail Message (555" + QByteArray::number(1000000 + n) + ")",
                     "Voicemail");
        QFile f(QStringLiteral("%1/%2/%3.M%4P1.shots%5")
                    .arg(root, m.read ? QStringLiteral("cur") : QStringLiteral("new"))
                    .arg(now - m.ago)
                    .arg(n)
                    .arg(m.read ? QStringLiteral(":2,S") : QString()));
        f.open(QIODevice::WriteOnly);
        f.write(text);
        ++n;
    }
    QFile accounts(dir + QStringLiteral("/accounts.conf"));
    accounts.open(QIODevice::WriteOnly);
    accounts.write("Shots = " + root.toUtf8() + "\n");
    accounts.close();
    qputenv("LYRABELL_ACCOUNTS", QFile::encodeName(accounts.fileName()));
    qputenv("LYRABELL_CONTACTS", QFile::encodeName(dir + QStringLiteral("/contacts")));
    qputenv("LYRABELL_REGISTRY", QFile::encodeName(dir + QStringLiteral("/registry.sqlite3")));

    lyb::store::CMapiSession session;
    lyb::store::logon(session);
    QWidget window;
    auto* layout = new QHBoxLayout(&window);
    CVoiceMailList playing, paused;
    layout->addWidget(&playing);
    layout->addWidget(&paused);
    window.resize(2 * 330, 300);
    window.show();
    playing.populate(session, QStringLiteral("Shots"));
    paused.populate(session, QStringLiteral("Shots"));
    playing.set_current_row(1);
    paused.set_current_row(2);
    paused.set_paused(true);
    paused.setCurrentIndex(paused.model()->index(4, 0));
    const char* sizes[] = {"small", "medium", "large"};
    const QString suffix = window.devicePixelRatioF() > 1 ? QStringLiteral("@2x") : QString();
    for (int details : {0, 1}) {
        for (int size = 0; size < 3; ++size) {
            for (CVoiceMailList* list : {&playing, &paused}) {
                list->set_details_mode(details);
                list->set_font_size(size);
            }
            QApplication::processEvents();
            const QString file =
                QStringLiteral("%1/list-%2-%3%4.png")
                    .arg(out, details ? QStringLiteral("two-line") : QStringLiteral("one-line"))
                    .arg(QLatin1String(sizes[size]), suffix);
            window.grab().save(file);
            std::printf("%s\n", qPrintable(file));
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() == 2 && args[0] == QLatin1String("--shots"))
        return runShots(args[1]);
    QString keep;
    int count = 10000;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--dir") && i + 1 < args.size()) {
            keep = args[++i];
        } else {
            count = args[i].toInt();
        }
    }
    QTemporaryDir temporary;
    const QString dir = keep.isEmpty() ? temporary.path() : keep + "/" + QString::number(count);
    qputenv("LYRABELL_REGISTRY", QFile::encodeName(temporary.path() + "/registry.sqlite3"));
    return runBench(dir, count);
}
