// The names Lyrabell shares with the programs around it: the launcher, the
// Inbox extension, the Today item, lybtool and any other program that reads
// or writes the same settings or talks to the same windows. They are spelled
// here once; every one of them is relied on byte for byte by something that
// is not rebuilt with us (stored registry files, scripts, older companions),
// so none may change.
//
// Constants only: no Qt, no code, nothing to link. Plain character arrays, so
// a companion library that links none of Lyrabell can use them too.
#pragma once

#include <cstdint>

namespace lyb::names {

// --- The settings key: HKEY_CURRENT_USER "Software\<company>\<profile>\<section>" ---

inline constexpr char kCompany[] = "Corvendale";
inline constexpr char kProfile[] = "Lyrabell";
inline constexpr char kSection[] = "Lyrabell";
// The whole path of the one key every program reads and writes.
inline constexpr char kSettingsKey[] = "Software\\Corvendale\\Lyrabell\\Lyrabell";

// --- Value names in the settings key (type, default) ---

inline constexpr char kMessageStore[] = "Message Store";  // REG_SZ, "": the chosen account
inline constexpr char kUsingOutlook[] = "Using Outlook";  // REG_DWORD, 1
inline constexpr char kNanp[] = "NANP";                   // REG_DWORD, 1: North American numbers
inline constexpr char kDetails[] = "DETAILS";             // REG_DWORD, 0
inline constexpr char kFont[] = "Font";                   // REG_DWORD, 1
inline constexpr char kTips[] = "Tips";                   // REG_DWORD, 0
inline constexpr char kAutoPlay[] = "AutoPlay";           // REG_SZ, "": a handed-over request
inline constexpr char kMsgEntryId[] = "MsgEntryID";  // REG_BINARY: the stored message of "<OID>"
inline constexpr char kInstallDir[] = "InstallDir";  // REG_SZ: the folder of the programs

// The request that stands for the stored message named by "MsgEntryID"
// (matched without regard to case).
inline constexpr char kStoredMessageRequest[] = "<OID>";

// --- Messages ---

// The registered window message that tells Lyrabell to take "AutoPlay".
inline constexpr char kPlayMessage[] = "TavolinPlay";
// wParam of the WM_SETTINGCHANGE broadcast after the chosen account changed
// (lParam 0): the Today item recounts on it.
inline constexpr std::uint64_t kAccountChangeBroadcast = 0xF2;

// --- Windows, locks and the bus ---

// The role of Lyrabell's main window on the session: the launcher and a
// second Lyrabell find it by this, whatever its caption says.
inline constexpr char kMainWindowRole[] = "lyrabell.main";
// The role of the Today item's host window.
inline constexpr char kTodayWindowRole[] = "lyrabell.today";
// The per-user lock held from writing a request until Lyrabell has taken it.
inline constexpr char kHandOverLock[] = "handover";

// Bus names of the desktop: each process owns kBusServicePrefix + its pid and
// serves kBusProcessInterface; every window serves kBusWindowInterface.
inline constexpr char kBusServicePrefix[] = "org.lyrabell.Desktop.p";
inline constexpr char kBusProcessInterface[] = "org.lyrabell.Desktop";
inline constexpr char kBusWindowInterface[] = "org.lyrabell.Window";

// --- Programs, as installed side by side in one folder ---

inline constexpr char kLyrabellProgram[] = "lyrabell";
inline constexpr char kLauncherProgram[] = "lyblauncher";

}  // namespace lyb::names
