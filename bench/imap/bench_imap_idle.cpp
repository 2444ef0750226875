// bench_imap_idle [SECONDS]: the processor time an open IDLE watch costs.
// Starts a Dovecot on loopback holding one message, opens an ImapWatch on
// its Inbox, waits until the connection is up, then measures the process's
// user and system time over SECONDS (default 30) of quiet and prints it as a
// share of one core. Then delivers a message and prints how long the watch
// took to tell of it.
//
// Needs a session bus for the Secret Service: run it as
//   dbus-run-session -- bench_imap_idle
#include <sys/resource.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <atomic>
#include <cstdio>

#include "platform/mapi/imap_url.h"
#include "platform/mapi/imap_watch.h"
#include "platform/secrets/secrets.h"
#include "tests/platform/imap/dovecot_fixture.h"

namespace {

double cpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

const char kMail[] =
    "From: a@example.org\r\nTo: b@example.org\r\nSubject: hello\r\n"
    "Date: Mon, 30 Nov 2026 08:00:00 +0000\r\n\r\nhello\r\n";

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
    lyb::testing::Keyring keyring;
    lyb::testing::DovecotServer server(true);
    server.start();
    lyb::secrets::storePassword(QStringLiteral("Bench"),
                                QLatin1String(lyb::testing::DovecotServer::kPassword));
    lyb::mapi::ImapAddress address;
    lyb::mapi::parseImapAddress(server.address(), address);
    // Made anew: the first call says so; later calls mean news.
    std::atomic<int> calls{0};
    lyb::mapi::ImapWatch watch(QStringLiteral("Bench"), address, [&] { ++calls; });
    while (calls == 0)
        QThread::msleep(20);

    const double before = cpuSeconds();
    QThread::sleep(seconds);
    const double used = cpuSeconds() - before;
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::printf("idle with IDLE open: %.4f s of processor in %d s = %.4f %% of a core\n", used,
                seconds, 100.0 * used / seconds);

    const QString file = server.dir + QStringLiteral("/m.eml");
    lyb::testing::writeFile(file, kMail);
    QElapsedTimer timer;
    timer.start();
    server.deliver(file, QStringLiteral("1800000000.M1P1.bench"));
    while (calls < 2 && timer.elapsed() < 60000)
        QThread::msleep(1);
    std::printf("a delivered message told after %lld ms\n", timer.elapsed());
    return 0;
}
