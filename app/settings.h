// Lyrabell's settings: a handful of values in one registry key, shared with
// the launcher, the Inbox extension and the Today item.
//
// The key is HKEY_CURRENT_USER "Software\\<company>\\<profile>\\<section>",
// with the company "Corvendale", the profile "Lyrabell" and every value in the
// section "Lyrabell". There is no cache: each read goes to the registry and
// each write is committed at once.
//
// Bad data: a value that is missing, that has another type (texts, binary), or
// that holds fewer than four bytes (integers, whose type is not checked) reads
// as its default. Writes create the key as needed and return false when the
// registry cannot be written.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

#include "platform/names/names.h"

namespace lyb::settings {

// The names other programs rely on are spelled once, in platform/names.
inline constexpr const char* kCompany = names::kCompany;
inline constexpr const char* kProfile = names::kProfile;
inline constexpr const char* kSection = names::kSection;

// Value names, each with its default where it has one.
inline constexpr const char* kMessageStore = names::kMessageStore;  // REG_SZ, ""
inline constexpr const char* kUsingOutlook = names::kUsingOutlook;  // REG_DWORD, 1
inline constexpr int kUsingOutlookDefault = 1;
inline constexpr const char* kNanp = names::kNanp;  // REG_DWORD, 1
inline constexpr int kNanpDefault = 1;
inline constexpr const char* kDetails = names::kDetails;  // REG_DWORD, 0
inline constexpr int kDetailsDefault = 0;
inline constexpr const char* kFont = names::kFont;  // REG_DWORD, 1
inline constexpr int kFontDefault = 1;
inline constexpr const char* kTips = names::kTips;  // REG_DWORD, 0
inline constexpr int kTipsDefault = 0;
inline constexpr const char* kAutoPlay = names::kAutoPlay;      // REG_SZ, ""
inline constexpr const char* kMsgEntryId = names::kMsgEntryId;  // REG_BINARY, missing
inline constexpr const char* kInstallDir = names::kInstallDir;  // REG_SZ, missing

// Returns "Software\\Corvendale\\Lyrabell\\<section>".
QString sectionKeyPath(const QString& section = QString::fromLatin1(kSection));

// The profile operations, each on one value of a section.
int GetProfileInt(const QString& section, const QString& entry, int defaultValue);
bool WriteProfileInt(const QString& section, const QString& entry, int value);
QString GetProfileString(const QString& section, const QString& entry,
                         const QString& defaultValue = QString());
// Writes REG_SZ with its terminating zero.
bool WriteProfileString(const QString& section, const QString& entry, const QString& value);
// Returns the bytes, or nullopt when the value is missing or not binary.
std::optional<QByteArray> GetProfileBinary(const QString& section, const QString& entry);
bool WriteProfileBinary(const QString& section, const QString& entry, const QByteArray& bytes);

// Typed access to every value of the section "Lyrabell".
QString messageStore();
bool setMessageStore(const QString& name);
int usingOutlook();
bool setUsingOutlook(int value);
int nanp();
bool setNanp(int value);
int details();
bool setDetails(int value);
int fontSize();
bool setFontSize(int value);
int tips();
bool setTips(int value);
QString autoPlay();
bool setAutoPlay(const QString& request);
std::optional<QByteArray> msgEntryId();
bool setMsgEntryId(const QByteArray& id);
// Returns the install folder, or nullopt when it was never written.
std::optional<QString> installDir();

// Tells every top-level window that the chosen account changed
// (WM_SETTINGCHANGE, wParam 0xF2, lParam 0), so the Today item recounts.
// Returns the number of windows that handled it.
int broadcast_account_change();
// Makes account the one Lyrabell shows: "Message Store" is written first and
// only then, when announce is set, is the change broadcast, so every window
// the notice reaches reads the new account. False when the write failed (the
// change is then not announced).
bool chooseAccount(const QString& account, bool announce);

}  // namespace lyb::settings
