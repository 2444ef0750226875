// Where the programs and their read-only data are.
//
// The programs (lyrabell, lyblauncher, lybtool and the companions) always lie
// side by side in one folder: the build folder's bin/, or the install
// prefix's lib/lyrabell/ (the links in bin/ point there). Their data (the tips
// pages in help/, the demo account in demo/) lies in the data folder: the
// prefix's share/lyrabell/ when the program is installed, else the program's
// own folder. Nothing here is cached; every call looks at the file system.
#pragma once

#include <QByteArray>
#include <QString>

namespace lyb::paths {

// The absolute path of the running program: the file the system names in
// /proc/self/exe (links resolved), its bytes decoded as every file name is
// (files::decodeFileName), else QCoreApplication's when /proc does not say;
// empty when neither does. Where a program is, is asked only here.
QString currentProgramPath();
// The folder of currentProgramPath(), without a trailing slash; empty when
// that is.
QString program_folder();
// The installed data folder when it exists beside the program's folder,
// else the program's folder itself. Empty when the program's folder is unknown.
QString data_folder();
// The tips pages and the about picture: data_folder() + "/help". The folder
// need not exist; empty when data_folder() is.
QString help_folder();
// The demo account (a Maildir and a contacts folder): data_folder() + "/demo".
// The folder need not exist; empty when data_folder() is.
QString demo_folder();
// The demo account in use. A program run from its build folder uses the demo
// made beside it; an installed one never writes under its prefix, and uses
// the user's own copy, $XDG_DATA_HOME/lyrabell/demo, copied from demo_folder()
// at the first call that finds none. Empty when there is no demo to use.
QString demo_account_folder();

}  // namespace lyb::paths
