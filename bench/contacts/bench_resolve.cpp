// Resolves the caller names of 1,000 voicemails against a folder of 10,000
// contacts, as one list population does: log on (read the folder, build the
// indexes), resolve every caller, log off. Runs five populations and prints
// the first (which reads the folder) and the later ones (which find it
// unchanged); the target is at most 0.5 s for a whole population.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <vector>

#include "contacts/contacts.h"

namespace {

constexpr int kContacts = 10000;
constexpr int kVoicemails = 1000;

QString mobile(int i) {
    return QStringLiteral("+1 (%1) 555-%2")
        .arg(200 + i % 700)
        .arg(i % 10000, 4, 10, QLatin1Char('0'));
}

void writeFolder(const QString& folder) {
    QDir().mkpath(folder);
    for (int i = 0; i < kContacts; ++i) {
        QFile f(QStringLiteral("%1/%2.vcf").arg(folder).arg(i, 5, 10, QLatin1Char('0')));
        if (!f.open(QIODevice::WriteOnly))
            std::abort();
        const QString card =
            QStringLiteral(
                "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:%1\r\nN:Family%1;Given%1;;;\r\n"
                "FN:Given%1 Family%1\r\nTEL;TYPE=CELL:%2\r\n"
                "TEL;TYPE=WORK:+44 20 7%3\r\nEMAIL;TYPE=INTERNET:p%1@example.org\r\n"
                "NOTE:A note\\, with an escape\r\nEND:VCARD\r\n")
                .arg(i)
                .arg(mobile(i))
                .arg(1000000 + i);
        f.write(card.toUtf8());
    }
}

// Voicemail numbers as the store keeps them (digits only): most from
// contacts, some with the leading 1, some from abroad, some unknown.
std::vector<QString> callers() {
    std::vector<QString> numbers;
    for (int v = 0; v < kVoicemails; ++v) {
        const int i = (v * 7919) % kContacts;
        QString digits;
        for (QChar c : mobile(i).mid(3))
            if (c.isDigit())
                digits += c;
        switch (v % 4) {
            case 0:
                numbers.push_back(digits);
                break;
            case 1:
                numbers.push_back(QStringLiteral("1") + digits);
                break;
            case 2:
                numbers.push_back(QStringLiteral("44207%1").arg(1000000 + i));
                break;
            default:
                numbers.push_back(
                    QStringLiteral("3125550%1").arg(v % 1000, 3, 10, QLatin1Char('0')));
        }
    }
    return numbers;
}

}  // namespace

// With a folder argument the contacts are written there once and reused.
int main(int argc, char** argv) {
    qputenv("LYRABELL_REGION", "US");
    QTemporaryDir dir;
    const QString folder =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : dir.filePath(QStringLiteral("contacts"));
    if (!QFileInfo::exists(folder))
        writeFolder(folder);
    const std::vector<QString> numbers = callers();

    std::vector<double> totals, logons, cpu;
    int named = 0;
    for (int run = 0; run < 5; ++run) {
        const std::clock_t cpuStart = std::clock();
        const auto start = std::chrono::steady_clock::now();
        auto app = lyb::pim::Application::create(folder, nullptr);
        if (app->logon() != lyb::pim::kOk)
            return 1;
        const auto loggedOn = std::chrono::steady_clock::now();
        named = 0;
        for (const QString& number : numbers)
            named += lyb::contacts::resolve_caller_name(*app, number, QString()).has_value();
        app->logoff();
        const auto end = std::chrono::steady_clock::now();
        cpu.push_back(double(std::clock() - cpuStart) / CLOCKS_PER_SEC);
        totals.push_back(std::chrono::duration<double>(end - start).count());
        logons.push_back(std::chrono::duration<double>(loggedOn - start).count());
    }
    std::printf("%d voicemails against %d contacts: %d named (target 0.5 s)\n", kVoicemails,
                kContacts, named);
    std::printf(
        "first population (folder read and indexed): %.3f s, of which logon %.3f s; "
        "processor time %.3f s\n",
        totals[0], logons[0], cpu[0]);
    // The later ones find the folder unchanged and reuse what the first read.
    std::sort(totals.begin() + 1, totals.end());
    std::sort(cpu.begin() + 1, cpu.end());
    std::printf("later populations: best %.3f s, median %.3f s; processor time best %.3f s\n",
                totals[1], totals[2], cpu[1]);
    return named == kVoicemails * 3 / 4 ? 0 : 2;
}
