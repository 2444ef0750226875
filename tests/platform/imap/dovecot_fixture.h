// Real servers for the IMAP account tests and benchmarks: Dovecot on
// 127.0.0.1 (a random port, TLS from a certificate authority made here,
// one passwd-file user, Maildir storage with a \Trash folder) and the Secret
// Service of gnome-keyring on the session bus. Everything lives in a folder
// of its own below TMPDIR and goes when the fixture does.
//
// Dovecot's login and mail processes run as its own users (dovenull,
// dovecot): the folders above the server's are made passable for them.
#pragma once

#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QThread>

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace lyb::testing {

inline QString tempRoot() {
    const QByteArray t = qgetenv("TMPDIR");
    return QString::fromLocal8Bit(t.isEmpty() ? QByteArray("/tmp") : t);
}

inline int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

inline bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// Runs a program to its end; its exit status (-1 when it could not run).
inline int runProgram(const QString& program, const QStringList& args, QByteArray* output = nullptr,
                      const QByteArray& input = {}) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForStarted())
        return -1;
    if (!input.isEmpty())
        p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(60000);
    if (output)
        *output = p.readAll();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// A certificate authority and a server certificate for localhost and 127.0.0.1.
inline void makeCertificates(const QString& dir) {
    auto openssl = [&](const QStringList& args) {
        QByteArray out;
        if (runProgram(QStringLiteral("openssl"), args, &out) != 0)
            throw std::runtime_error("openssl failed: " + out.toStdString());
    };
    const QStringList ec{QStringLiteral("-newkey"), QStringLiteral("ec"),
                         QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"),
                         QStringLiteral("-nodes")};
    openssl(QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + ec +
            QStringList{"-keyout", dir + "/ca.key", "-out", dir + "/ca.pem", "-days", "2", "-subj",
                        "/CN=Lyrabell Test CA", "-addext", "basicConstraints=critical,CA:TRUE",
                        "-addext", "keyUsage=critical,keyCertSign,cRLSign"});
    openssl(QStringList{QStringLiteral("req")} + ec +
            QStringList{"-keyout", dir + "/server.key", "-out", dir + "/server.csr", "-subj",
                        "/CN=localhost"});
    writeFile(dir + "/ext",
              "subjectAltName=DNS:localhost,IP:127.0.0.1\n"
              "extendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n");
    openssl({"x509", "-req", "-in", dir + "/server.csr", "-CA", dir + "/ca.pem", "-CAkey",
             dir + "/ca.key", "-CAcreateserial", "-out", dir + "/server.crt", "-days", "2",
             "-extfile", dir + "/ext"});
}

// Lets other users pass through the folders from dir up to the root.
inline void makePassable(QString dir) {
    while (!dir.isEmpty() && dir != QLatin1String("/")) {
        struct stat st;
        const QByteArray path = QFile::encodeName(dir);
        if (::stat(path.constData(), &st) == 0 && (st.st_mode & 0011) != 0011)
            ::chmod(path.constData(), (st.st_mode & 07777) | 0011);
        dir = QFileInfo(dir).path();
    }
}

class DovecotServer {
public:
    static constexpr const char* kUser = "alice";
    static constexpr const char* kPassword = "alice-secret";

    // tls: TLS on an imaps port and STARTTLS on the plain one; otherwise
    // the plain port only, without STARTTLS.
    explicit DovecotServer(bool tls = true) : tls_(tls) {
        dir = QDir(tempRoot())
                  .filePath(QStringLiteral("dovecot-%1-%2")
                                .arg(::getpid())
                                .arg(reinterpret_cast<quintptr>(this)));
        QDir().mkpath(dir);
        makePassable(dir);
        ::chmod(QFile::encodeName(dir).constData(), 0755);
        for (const char* sub : {"run", "state", "home"})
            QDir(dir).mkpath(QString::fromLatin1(sub));
        mailRoot = dir + QStringLiteral("/mail/") + QLatin1String(kUser);
        for (const char* sub : {"cur", "new", "tmp", ".Trash/cur", ".Trash/new", ".Trash/tmp"})
            QDir(mailRoot).mkpath(QString::fromLatin1(sub));
        writeFile(mailRoot + QStringLiteral("/.Trash/maildirfolder"), {});
        if (tls_)
            makeCertificates(dir);
        imapPort = freePort();
        imapsPort = freePort();
        writeFile(dir + QStringLiteral("/passwd"),
                  QByteArray(kUser) + ":{PLAIN}" + kPassword + "::::::\n");
        writeConfig();
    }

    ~DovecotServer() { stop(); }

    // Copies the messages of a Maildir (cur/ and new/, names kept) into the
    // user's Inbox, or into a folder by its Maildir++ name ("Archive.Voicemail",
    // made when missing); call before start().
    void addMaildir(const QString& maildir, const QString& folder = {}) {
        const QString to = folder.isEmpty() ? mailRoot : mailRoot + QStringLiteral("/.") + folder;
        for (const char* sub : {"cur", "new", "tmp"})
            QDir(to).mkpath(QLatin1String(sub));
        if (!folder.isEmpty())
            writeFile(to + QStringLiteral("/maildirfolder"), {});
        for (const char* sub : {"cur", "new"}) {
            const QString from = maildir + QLatin1Char('/') + QLatin1String(sub);
            for (const QString& name : QDir(from).entryList(QDir::Files)) {
                QFile::copy(from + QLatin1Char('/') + name,
                            to + QLatin1Char('/') + QLatin1String(sub) + QLatin1Char('/') + name);
            }
        }
    }

    // Adds settings to the end of the server's configuration; call
    // before start().
    void addConfig(const QByteArray& lines) {
        QFile f(dir + QStringLiteral("/dovecot.conf"));
        if (f.open(QIODevice::Append))
            f.write(lines);
    }

    void start() {
        // The mail processes run as dovecot and own the mail.
        const passwd* pw = ::getpwnam("dovecot");
        if (pw) {
            QDirIterator it(dir + QStringLiteral("/mail"),
                            QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                            QDirIterator::Subdirectories);
            ::chown(QFile::encodeName(dir + QStringLiteral("/mail")).constData(), pw->pw_uid,
                    pw->pw_gid);
            while (it.hasNext())
                ::chown(QFile::encodeName(it.next()).constData(), pw->pw_uid, pw->pw_gid);
        }
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start(
            QStringLiteral("/usr/sbin/dovecot"),
            {QStringLiteral("-F"), QStringLiteral("-c"), dir + QStringLiteral("/dovecot.conf")});
        if (!process_.waitForStarted())
            throw std::runtime_error("dovecot did not start");
        // Ready when every port it listens on takes connections.
        for (int i = 0; i < 200; ++i) {
            // greets: the plain port answers with its "* OK" greeting, so a
            // login process of this server is up, not only a socket.
            const auto takes = [](int port, bool greets) {
                const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
                sockaddr_in a{};
                a.sin_family = AF_INET;
                a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
                a.sin_port = htons(static_cast<uint16_t>(port));
                bool up = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
                if (up && greets) {
                    pollfd p{fd, POLLIN, 0};
                    char greeting[4] = {};
                    up = ::poll(&p, 1, 2000) == 1 && ::recv(fd, greeting, 4, 0) == 4 &&
                         std::memcmp(greeting, "* OK", 4) == 0;
                }
                ::close(fd);
                return up;
            };
            if (takes(imapPort, true) && (!tls_ || takes(imapsPort, false)))
                return;
            if (process_.state() != QProcess::Running)
                break;
            QThread::msleep(50);
        }
        throw std::runtime_error("dovecot is not listening: " + process_.readAll().toStdString() +
                                 log().toStdString());
    }

    // Stops the server and every process of it at once, so that open
    // connections break as when a server goes away. The master is held
    // first, so that it starts no process in the meantime.
    void stop() {
        if (process_.state() == QProcess::NotRunning)
            return;
        const pid_t master = static_cast<pid_t>(process_.processId());
        ::kill(master, SIGSTOP);
        for (pid_t child : childrenOf(master))
            ::kill(child, SIGKILL);
        ::kill(master, SIGKILL);
        process_.waitForFinished();
        // A process killed while it held a mail folder's lock leaves the lock
        // file: the next server would wait minutes for it to go stale.
        QDirIterator locks(mailRoot, {QStringLiteral("*.lock")}, QDir::Files | QDir::Hidden,
                           QDirIterator::Subdirectories);
        while (locks.hasNext())
            QFile::remove(locks.next());
    }

    QByteArray log() const {
        QFile f(dir + QStringLiteral("/dovecot.log"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    // An account address for this server.
    QString address(bool implicitTls = true, bool withCa = true) const {
        QString a = implicitTls ? QStringLiteral("imaps://%1@127.0.0.1:%2/INBOX")
                                      .arg(QLatin1String(kUser))
                                      .arg(imapsPort)
                                : QStringLiteral("imap://%1@127.0.0.1:%2/INBOX")
                                      .arg(QLatin1String(kUser))
                                      .arg(imapPort);
        if (withCa)
            a += QStringLiteral("?ca=") + dir + QStringLiteral("/ca.pem");
        return a;
    }

    // Another mail program's work on the running server's Inbox: a message
    // delivered into new/ under a unique name of its own, and a message's
    // file renamed to carry the seen flag.
    void deliver(const QString& messageFile, const QString& unique) {
        const QString tmp = mailRoot + QStringLiteral("/tmp/") + unique;
        QFile::copy(messageFile, tmp);
        if (const passwd* pw = ::getpwnam("dovecot"))
            ::chown(QFile::encodeName(tmp).constData(), pw->pw_uid, pw->pw_gid);
        ::rename(QFile::encodeName(tmp).constData(),
                 QFile::encodeName(mailRoot + QStringLiteral("/new/") + unique).constData());
    }
    void markSeen(const QString& unique) {
        for (const char* sub : {"cur", "new"}) {
            const QString dir = mailRoot + QLatin1Char('/') + QLatin1String(sub);
            for (const QString& name : QDir(dir).entryList(QDir::Files)) {
                if (name.section(QLatin1Char(':'), 0, 0) != unique)
                    continue;
                QString flags = name.section(QStringLiteral(":2,"), 1);
                if (!flags.contains(QLatin1Char('S')))
                    flags += QLatin1Char('S');
                ::rename(QFile::encodeName(dir + QLatin1Char('/') + name).constData(),
                         QFile::encodeName(mailRoot + QStringLiteral("/cur/") + unique +
                                           QStringLiteral(":2,") + flags)
                             .constData());
            }
        }
    }

    // The Inbox's message files (cur/ and new/) and the Trash's.
    QStringList inboxFiles() const { return files(mailRoot); }
    QStringList trashFiles() const { return files(mailRoot + QStringLiteral("/.Trash")); }

    QString dir;
    QString mailRoot;
    int imapPort = 0;
    int imapsPort = 0;

private:
    static std::vector<pid_t> childrenOf(pid_t parent) {
        std::vector<pid_t> children;
        for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            bool number = false;
            const pid_t pid = static_cast<pid_t>(entry.toInt(&number));
            if (!number)
                continue;
            QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
            if (!stat.open(QIODevice::ReadOnly))
                continue;
            const QByteArray line = stat.readAll();
            const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
            if (fields.size() > 1 && fields[1].toInt() == parent)
                children.push_back(pid);
        }
        return children;
    }

    static QStringList files(const QString& root) {
        QStringList all;
        for (const char* sub : {"cur", "new"})
            all += QDir(root + QLatin1Char('/') + QLatin1String(sub)).entryList(QDir::Files);
        all.sort();
        return all;
    }

    void writeConfig() {
        QByteArray c;
        c += "base_dir = " + dir.toUtf8() + "/run\n";
        c += "state_dir = " + dir.toUtf8() + "/state\n";
        c += "log_path = " + dir.toUtf8() + "/dovecot.log\n";
        c += "protocols = imap\nlisten = 127.0.0.1\n";
        c += "default_internal_user = dovecot\ndefault_internal_group = dovecot\n";
        c += "default_login_user = dovenull\nfirst_valid_uid = 1\nfirst_valid_gid = 1\n";
        c += "auth_mechanisms = plain login\nauth_failure_delay = 0\n";
        c += "mail_location = maildir:" + dir.toUtf8() + "/mail/%u\n";
        c += "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN username_format=%u " +
             dir.toUtf8() + "/passwd\n}\n";
        c += "userdb {\n  driver = static\n  args = uid=dovecot gid=dovecot home=" + dir.toUtf8() +
             "/home/%u\n}\n";
        c += "namespace inbox {\n  inbox = yes\n  separator = .\n"
             "  mailbox Trash {\n    special_use = \\Trash\n  }\n}\n";
        if (tls_) {
            c += "ssl = yes\nssl_cert = <" + dir.toUtf8() + "/server.crt\n";
            c += "ssl_key = <" + dir.toUtf8() + "/server.key\n";
            c += "disable_plaintext_auth = yes\n";
        } else {
            c += "ssl = no\ndisable_plaintext_auth = no\n";
        }
        c += "service imap-login {\n  inet_listener imap {\n    port = " +
             QByteArray::number(imapPort) + "\n  }\n  inet_listener imaps {\n    port = " +
             QByteArray::number(tls_ ? imapsPort : 0) + "\n    ssl = yes\n  }\n  chroot =\n}\n";
        c += "service anvil {\n  chroot =\n}\n";
        writeFile(dir + QStringLiteral("/dovecot.conf"), c);
    }

    bool tls_;
    QProcess process_;
};

// gnome-keyring's Secret Service on the test's private session bus, its
// login keyring unlocked with a password of the test's.
class Keyring {
public:
    Keyring() {
        process_.start(QStringLiteral("gnome-keyring-daemon"),
                       {QStringLiteral("--foreground"), QStringLiteral("--unlock"),
                        QStringLiteral("--components=secrets")});
        if (!process_.waitForStarted())
            throw std::runtime_error("gnome-keyring-daemon did not start");
        process_.write("keyring-test");
        process_.waitForBytesWritten();
        process_.closeWriteChannel();
        // Ready when it owns the service's name. Asking the service itself
        // before then would make the bus start a second, locked keyring.
        QByteArray out;
        for (int i = 0; i < 200; ++i) {
            runProgram(QStringLiteral("dbus-send"),
                       {QStringLiteral("--session"), QStringLiteral("--print-reply"),
                        QStringLiteral("--dest=org.freedesktop.DBus"),
                        QStringLiteral("/org/freedesktop/DBus"),
                        QStringLiteral("org.freedesktop.DBus.NameHasOwner"),
                        QStringLiteral("string:org.freedesktop.secrets")},
                       &out);
            if (out.contains("boolean true"))
                return;
            QThread::msleep(50);
        }
        throw std::runtime_error("the Secret Service did not come up: " + out.toStdString() +
                                 process_.readAll().toStdString());
    }
    ~Keyring() {
        process_.terminate();
        if (!process_.waitForFinished(5000))
            process_.kill();
        process_.waitForFinished();
    }

private:
    QProcess process_;
};

}  // namespace lyb::testing
