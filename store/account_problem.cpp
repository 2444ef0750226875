#include "store/account_problem.h"

#include <QDir>
#include <QFileInfo>

#include <dirent.h>

#include <cerrno>
#include <cstring>

#include "platform/files/file_names.h"

namespace lyb::store {

namespace {

const mapi::Account* findAccount(const std::vector<mapi::Account>& accounts, const QString& name) {
    for (const mapi::Account& account : accounts) {
        if (account.displayName.compare(name, Qt::CaseInsensitive) == 0)
            return &account;
    }
    return nullptr;
}

// The path as the user wrote it in the accounts file most likely: "~/" for
// the home folder.
QString shownPath(const QString& path) {
    const QString home = QDir::homePath();
    if (path.startsWith(home + QLatin1Char('/')))
        return QStringLiteral("~") + path.mid(home.size());
    return path;
}

// Returns 0 when the folder can be opened and listed, else why not (errno).
int folderError(const QString& path) {
    DIR* dir = ::opendir(files::encodeFileName(path).constData());
    if (!dir)
        return errno;
    ::closedir(dir);
    return 0;
}

QString reason(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

}  // namespace

QString account_problem(const QString& accountName, const std::vector<mapi::Account>& accounts,
                        const QString& accountsFile) {
    if (accountName.isEmpty())
        return {};  // no account chosen: nothing to read
    const mapi::Account* account = findAccount(accounts, accountName);
    if (!account) {
        const QString file = shownPath(accountsFile);
        const QString why = QFileInfo::exists(accountsFile)
                                ? QStringLiteral("it is not listed in %1").arg(file)
                                : QStringLiteral("there is no accounts file %1").arg(file);
        return QStringLiteral("The account \"%1\" cannot be read: %2").arg(accountName, why);
    }
    if (account->maildir.isEmpty())
        return {};
    const QString head = QStringLiteral("The account \"%1\" (%2) cannot be read: ")
                             .arg(account->displayName, shownPath(account->maildir));
    if (const int error = folderError(account->maildir))
        return head + reason(error);
    // A folder without both cur and new is no Maildir: the wrong folder was
    // named (its parent, or a mail folder of another kind).
    for (const char* sub : {"cur", "new"}) {
        const int error = folderError(account->maildir + QLatin1Char('/') + QLatin1String(sub));
        if (error == ENOENT || error == ENOTDIR)
            return head +
                   QStringLiteral("it is not a mail folder (Maildir): it has no \"%1\" folder")
                       .arg(QLatin1String(sub));
        if (error)
            return head +
                   QStringLiteral("%1 (its \"%2\" folder)").arg(reason(error), QLatin1String(sub));
    }
    return {};
}

QString account_problem(const QString& accountName) {
    return account_problem(accountName, mapi::loadAccounts(), mapi::accountsFilePath());
}

QString account_folder(const QString& accountName) {
    const std::vector<mapi::Account> accounts = mapi::loadAccounts();
    const mapi::Account* account = findAccount(accounts, accountName);
    return account ? account->maildir : QString();
}

}  // namespace lyb::store
