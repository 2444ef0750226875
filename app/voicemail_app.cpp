#include "app/voicemail_app.h"

#include "app/engine_playback.h"
#include "app/main_dialog.h"
#include "app/play_request.h"
#include "app/settings.h"
#include "contacts/number_forms.h"
#include "inboxext/item_refs.h"
#include "platform/com/inproc.h"
#include "platform/desktop/hand_over.h"
#include "platform/registry/registry.h"

#include <QFileInfo>
#include <QThread>

#include <cstdio>

namespace lyb::app {

void setUpMainWindow(CMainDialog& window) {
    CMainDialog* shown = &window;
    // The engine tells the window the position and the end of a recording.
    window.setPlayback(std::make_unique<CEnginePlayback>(
        std::function<void()>(),
        [shown](const QString& text) { shown->showMessage(text, MessageIcon::Error); }));
    window.setNumberFormatter(
        [](const QString& number) { return contacts::format_for_display(number); });
}

CVoiceMailApp::CVoiceMailApp(std::unique_ptr<IMessageStore> store,
                             std::function<void(CMainDialog&)> setUp)
    : store_(std::move(store)), setUp_(std::move(setUp)) {}

CVoiceMailApp::~CVoiceMailApp() {
    session_.reset();
}

std::optional<desktop::WindowHandle> CVoiceMailApp::findInstanceWindow(const QString& programPath) {
    std::optional<desktop::WindowHandle> any;
    for (const desktop::WindowInfo& info : desktop::listWindows()) {
        if (info.programPath.compare(programPath, Qt::CaseInsensitive) != 0)
            continue;
        if (info.role == QLatin1String(CMainDialog::kRole))
            return info.handle;
        if (!any)
            any = info.handle;
    }
    return any;
}

void CVoiceMailApp::handOver(const QString& request) {
    // Only called once this program's window was found: it is running.
    desktop::HandOver handOver;
    handOver.request = request;
    handOver.running = [] { return true; };
    desktop::handOverRequest(handOver);
}

std::optional<int> CVoiceMailApp::enforceOneInstance(const QString& request, int rounds,
                                                     int intervalMs) {
    const QString programPath = desktop::currentProgramPath();
    lock_ = std::make_unique<desktop::InstanceLock>(programPath);
    if (!lock_->alreadyExisted())
        return std::nullopt;
    for (int round = 0; round < rounds; ++round) {
        if (const auto window = findInstanceWindow(programPath)) {
            // The request goes over first, so the first instance is already
            // playing it when it comes to the front.
            if (request.size() >= 2)
                handOver(request);
            desktop::setForegroundWindow(*window);
            return -1;
        }
        if (round + 1 < rounds)
            QThread::msleep(static_cast<unsigned long>(intervalMs));
    }
    return std::nullopt;
}

void CVoiceMailApp::registerFileAssociation(const QString& programDir) {
    using reg::Hive;
    using reg::Key;
    // Renewed at every start, so a busy registry only skips it this once:
    // the start does not wait for another program's writes.
    Key::refresh(Hive::ClassesRoot, QStringLiteral(".gsm"),
                 {QString(), reg::Type::Sz, reg::encodeSz(QStringLiteral("wavFile"))});
    Key::refresh(
        Hive::ClassesRoot, QStringLiteral("wavFile\\Shell\\Open\\Command"),
        {QString(), reg::Type::Sz,
         reg::encodeSz(
             QStringLiteral("\"%1/lyblauncher\"%2").arg(programDir, QStringLiteral("%1")))});
    // No installer can write a per-user registry here, so the program records
    // where it and the launcher are (the build folder or the installed
    // programs' folder) each time, for the companions that start the launcher.
    Key::refresh(
        Hive::CurrentUser, settings::sectionKeyPath(),
        {QString::fromLatin1(settings::kInstallDir), reg::Type::Sz, reg::encodeSz(programDir)});
    registerInboxExtension(programDir);
}

void CVoiceMailApp::registerInboxExtension(const QString& programDir) {
    const QString library = programDir + QStringLiteral("/liblyminboxextension.so");
    if (!QFileInfo(library).isFile())
        return;
    // Only reads when both classes already name this library, so an ordinary
    // start does not write; the library itself writes its keys otherwise.
    if (com::inprocServerPath(inboxext::kMenuExtensionClass) == library &&
        com::inprocServerPath(inboxext::kContextMenuExtensionClass) == library)
        return;
    QString error;
    const auto module = com::CServerModule::load(library, &error);
    if (!module || com::Failed(module->registerServer()))
        std::fprintf(stderr, "lyrabell: the Inbox menu extension was not registered%s%s\n",
                     error.isEmpty() ? "" : ": ", error.toLocal8Bit().constData());
}

int CVoiceMailApp::run(const QString& request) {
    if (const auto code = enforceOneInstance(request))
        return *code;

    // The settings key is fixed: Software\Corvendale\Lyrabell\Lyrabell.
    registerFileAssociation(QFileInfo(desktop::currentProgramPath()).absolutePath());
    playMessage_ = desktop::registerWindowMessage(QString::fromLatin1(kPlayMessageName));
    // The result is not checked: without a session the list shows its placeholder.
    if (store_)
        session_ = store_->logon();

    int result = 0;
    {
        CMainDialog dialog(store_.get(), playMessage_);
        dialog.setSession(session_ ? session_->mapi_session() : nullptr);
        if (setUp_)
            setUp_(dialog);
        if (!request.isEmpty())
            dialog.setPendingRequest(request);
        result = dialog.exec();
    }
    session_.reset();
    Q_UNUSED(result);
    return 0;
}

}  // namespace lyb::app
