// Why the chosen account's Inbox cannot be read, said where the user looks
// for it: an account that cannot be read must never pass for an empty one.
//
// The account is looked up by name in the accounts (platform/mapi's
// loadAccounts: the accounts file, or the demo account while there is none),
// without regard to case, as the list opens it. It can be read when it is
// listed and its Maildir folder is a folder this user may read, holding the
// folders cur and new that are read too; an account listed without a folder
// ("SMS =") has an Inbox that is empty by design and is fine.
#pragma once

#include <QString>

#include <vector>

#include "platform/mapi/maildir_provider.h"

namespace lyb::store {

// Returns what keeps the account accountName from being read, in one line
// for the user, or an empty text when it can be read (or none is named):
//   The account "Work" (~/Mail/wrk) cannot be read: No such file or directory
//   The account "Work" cannot be read: it is not listed in ~/.config/lyrabell/accounts.conf
// Folders under the home folder are written from "~/".
QString account_problem(const QString& accountName);
// The same over the given accounts, read from accountsFile (named in the text).
QString account_problem(const QString& accountName, const std::vector<mapi::Account>& accounts,
                        const QString& accountsFile);

// Returns the Maildir folder of the account accountName (the first listed
// under that name, any case); empty when it has none or is not listed.
QString account_folder(const QString& accountName);

}  // namespace lyb::store
