// Account passwords in the desktop's Secret Service (libsecret): one item per
// account with the attributes application=lyrabell and account=NAME, so that
// `secret-tool store --label=... application lyrabell account NAME` sets the
// same password. Items are looked up by those two attributes alone, whoever
// stored them.
//
// The calls are synchronous (a round trip on the session bus) and may be made
// from any thread. A locked collection is unlocked through the desktop's own
// prompt when it shows one; without one the lookup fails.
#pragma once

#include <QString>

#include <optional>

namespace lyb::secrets {

// The stored password; nullopt when there is none or the Secret Service is
// not reachable, with *error (when not null) saying which (empty for none).
std::optional<QString> lookupPassword(const QString& account, QString* error = nullptr);

// Stores (or replaces) the password in the default collection; false with
// *error (when not null) saying why.
bool storePassword(const QString& account, const QString& password, QString* error = nullptr);

// Keeps a password in this process only, found by lookupPassword before the
// Secret Service is asked (a password the user gave without "Remember").
void keepForThisRun(const QString& account, const QString& password);

// Removes the stored password; true when there is none left.
bool clearPassword(const QString& account, QString* error = nullptr);

}  // namespace lyb::secrets
