#include "app/media_controls.h"

#include "app/playback_controller.h"
#include "audio/output/wave_player.h"
#include "platform/desktop/desktop.h"
#include "ui/resources.h"
#include "ui/row_texts.h"

#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTimer>
#include <QUrl>

namespace lyb::app {

namespace {

const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kNoTrack = QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack");
const QString kTrackPrefix = QStringLiteral("/org/lyrabell/Lyrabell/voicemail/");
constexpr double kFastFactor = audio::CWavePlayer::kFastRate / 65536.0;

// The program's icon as a file: the installed one beside the program, else
// the built-in picture written to the runtime folder.
QString iconFile() {
    const QString installed =
        QCoreApplication::applicationDirPath() +
        QStringLiteral("/../../share/icons/hicolor/128x128/apps/lyrabell.png");
    if (QFileInfo::exists(installed))
        return QDir::cleanPath(installed);
    ui::ensure_resources();
    QFile picture(QStringLiteral(":/images/lyrabell-128.png"));
    QSaveFile copy(desktop::runtimeDir() + QStringLiteral("/lyrabell.png"));
    if (!picture.open(QIODevice::ReadOnly) || !copy.open(QIODevice::WriteOnly) ||
        copy.write(picture.readAll()) < 0 || !copy.commit())
        return QString();
    return copy.fileName();
}

}  // namespace

class CRootAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ yes)
    Q_PROPERTY(bool CanRaise READ yes)
    Q_PROPERTY(bool HasTrackList READ no)
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ none)
    Q_PROPERTY(QStringList SupportedMimeTypes READ none)

public:
    explicit CRootAdaptor(CMediaControls* controls)
        : QDBusAbstractAdaptor(controls), controls_(controls) {}
    bool yes() const { return true; }
    bool no() const { return false; }
    QString identity() const { return QString::fromLatin1(CMediaControls::kIdentity); }
    QString desktopEntry() const { return QString::fromLatin1(CMediaControls::kDesktopEntry); }
    QStringList none() const { return {}; }

public slots:
    void Raise() { controls_->raise(); }
    void Quit() { controls_->quit(); }

private:
    CMediaControls* controls_;
};

class CPlayerAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(double Rate READ rate WRITE setRate)
    Q_PROPERTY(double MinimumRate READ one)
    Q_PROPERTY(double MaximumRate READ maximumRate)
    Q_PROPERTY(double Volume READ one WRITE setVolume)
    Q_PROPERTY(bool CanPlay READ canPlay)
    Q_PROPERTY(bool CanPause READ canPause)
    Q_PROPERTY(bool CanSeek READ canSeek)
    Q_PROPERTY(bool CanGoNext READ canGoNext)
    Q_PROPERTY(bool CanGoPrevious READ canGoPrevious)
    Q_PROPERTY(bool CanControl READ yes)

public:
    explicit CPlayerAdaptor(CMediaControls* controls)
        : QDBusAbstractAdaptor(controls), c_(controls) {}
    QString playbackStatus() const { return c_->playbackStatus(); }
    QVariantMap metadata() const { return c_->metadata(); }
    qlonglong position() const { return c_->position(); }
    double rate() const { return c_->rate(); }
    void setRate(double rate) { c_->setRate(rate); }
    double one() const { return 1.0; }
    double maximumRate() const { return CMediaControls::maximumRate(); }
    void setVolume(double) {}  // the system's mixer is the place for that
    bool canPlay() const { return c_->canPlay(); }
    bool canPause() const { return c_->canPause(); }
    bool canSeek() const { return c_->canSeek(); }
    bool canGoNext() const { return c_->canGoNext(); }
    bool canGoPrevious() const { return c_->canGoPrevious(); }
    bool yes() const { return true; }

public slots:
    void PlayPause() { c_->playPause(); }
    void Play() { c_->play(); }
    void Pause() { c_->pause(); }
    void Stop() { c_->stop(); }
    void Next() { c_->next(); }
    void Previous() { c_->previous(); }
    void Seek(qlonglong Offset) { c_->seek(Offset); }
    void SetPosition(const QDBusObjectPath& TrackId, qlonglong Position) {
        c_->setPosition(TrackId, Position);
    }
    void OpenUri(const QString&) {}  // no URI schemes are offered

signals:
    void Seeked(qlonglong Position);

private:
    CMediaControls* c_;
};

CMediaControls::CMediaControls(CPlaybackController* player, QObject* parent)
    : QObject(parent), player_(player), adaptor_(new CPlayerAdaptor(this)) {
    new CRootAdaptor(this);
    connect(player_, &CPlaybackController::stateChanged, this, &CMediaControls::schedule);
    connect(player_, &CPlaybackController::rateChanged, this, &CMediaControls::schedule);
    connect(player_, &CPlaybackController::closed, this, [this] {
        loaded_ = false;
        schedule();
    });
    connect(player_, &CPlaybackController::seeked, this,
            [this](qint64 ms) { emit adaptor_->Seeked(ms * 1000); });
}

CMediaControls::~CMediaControls() {
    if (!published_)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterService(QString::fromLatin1(kService));
    bus.unregisterObject(QString::fromLatin1(kPath));
}

bool CMediaControls::publish() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (published_ || !bus.isConnected())
        return published_;
    if (!bus.registerObject(QString::fromLatin1(kPath), this, QDBusConnection::ExportAdaptors))
        return false;
    if (!bus.registerService(QString::fromLatin1(kService))) {
        bus.unregisterObject(QString::fromLatin1(kPath));
        return false;
    }
    artUrl_ = QUrl::fromLocalFile(iconFile()).toString();
    published_ = true;
    told_ = changing();
    return true;
}

void CMediaControls::setTrack(const MediaTrack& track) {
    track_ = track;
    loaded_ = true;
    ++serial_;
    schedule();
}

QString CMediaControls::playbackStatus() const {
    if (!player_->hasPlayer())
        return QStringLiteral("Stopped");
    return player_->state() == IPlayback::kPlaying ? QStringLiteral("Playing")
                                                   : QStringLiteral("Paused");
}

QString CMediaControls::trackPath() const {
    return loaded_ && player_->hasPlayer() ? kTrackPrefix + QString::number(serial_) : kNoTrack;
}

QVariantMap CMediaControls::metadata() const {
    QVariantMap data{
        {QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(trackPath()))}};
    if (trackPath() == kNoTrack)
        return data;
    data.insert(QStringLiteral("xesam:title"),
                track_.caller.isEmpty() ? QString::fromLatin1(kUnknownCaller) : track_.caller);
    if (!track_.number.isEmpty())
        data.insert(QStringLiteral("xesam:artist"), QStringList{track_.number});
    if (track_.received > 0) {
        const ui::CDateTexts when = ui::date_texts(track_.received, QDateTime::currentDateTime());
        data.insert(QStringLiteral("xesam:comment"),
                    QStringList{QStringLiteral("%1 %2").arg(when.day, when.time)});
    }
    if (!track_.file.isEmpty())
        data.insert(QStringLiteral("xesam:url"), QUrl::fromLocalFile(track_.file).toString());
    data.insert(QStringLiteral("mpris:length"), qlonglong(player_->duration()) * 1000);
    if (!artUrl_.isEmpty())
        data.insert(QStringLiteral("mpris:artUrl"), artUrl_);
    return data;
}

qlonglong CMediaControls::position() const {
    return player_->hasPlayer() ? qlonglong(player_->position()) * 1000 : 0;
}

double CMediaControls::rate() const {
    return player_->hasPlayer() && player_->rateMode() == IPlayback::kRateFast ? kFastFactor : 1.0;
}

void CMediaControls::setRate(double rate) {
    // The speeds there are: the one nearer to the one asked for.
    if (rate > 0)
        player_->setRateMode(rate >= (1.0 + kFastFactor) / 2 ? IPlayback::kRateFast
                                                             : IPlayback::kRateNormal);
}

double CMediaControls::maximumRate() {
    return kFastFactor;
}

bool CMediaControls::canPlay() const {
    return player_->hasPlayer() || canStep(0);
}

bool CMediaControls::canPause() const {
    return player_->hasPlayer();
}

void CMediaControls::playPause() {
    if (player_->hasPlayer() && player_->state() == IPlayback::kPlaying)
        player_->pause();
    else
        play();
}

void CMediaControls::play() {
    if (player_->hasPlayer())
        player_->resume();
    else if (canStep(0))
        later(&CMediaControls::playRequested);
}

void CMediaControls::pause() {
    player_->pause();
}

void CMediaControls::stop() {
    if (player_->hasPlayer())
        later(&CMediaControls::stopRequested);
}

void CMediaControls::next() {
    if (canStep(+1))
        QTimer::singleShot(0, this, [this] { emit stepRequested(+1); });
}

void CMediaControls::previous() {
    if (canStep(-1))
        QTimer::singleShot(0, this, [this] { emit stepRequested(-1); });
}

void CMediaControls::seek(qlonglong offset) {
    if (!player_->hasPlayer())
        return;
    const qlonglong target = std::max<qlonglong>(0, position() + offset) / 1000;
    // Beyond the end is on to the next voicemail.
    if (target >= player_->duration())
        next();
    else
        player_->seek(uint32_t(target));
}

void CMediaControls::setPosition(const QDBusObjectPath& track, qlonglong position) {
    // A request for a voicemail no longer loaded, or outside it, is ignored.
    if (track.path() != trackPath() || trackPath() == kNoTrack || position < 0)
        return;
    player_->seek(uint32_t(position / 1000));
}

void CMediaControls::raise() {
    later(&CMediaControls::raiseRequested);
}

void CMediaControls::quit() {
    later(&CMediaControls::quitRequested);
}

void CMediaControls::later(void (CMediaControls::*signal)()) {
    QTimer::singleShot(0, this, [this, signal] { emit(this->*signal)(); });
}

QVariantMap CMediaControls::changing() const {
    return {
        {QStringLiteral("PlaybackStatus"), playbackStatus()},
        {QStringLiteral("Metadata"), metadata()},
        {QStringLiteral("Rate"), rate()},
        {QStringLiteral("CanPlay"), canPlay()},
        {QStringLiteral("CanPause"), canPause()},
        {QStringLiteral("CanSeek"), canSeek()},
        {QStringLiteral("CanGoNext"), canGoNext()},
        {QStringLiteral("CanGoPrevious"), canGoPrevious()},
    };
}

void CMediaControls::schedule() {
    if (!published_ || std::exchange(scheduled_, true))
        return;
    QTimer::singleShot(0, this, &CMediaControls::tell);
}

void CMediaControls::tell() {
    scheduled_ = false;
    const QVariantMap now = changing();
    QVariantMap changed;
    for (auto it = now.cbegin(); it != now.cend(); ++it)
        if (told_.value(it.key()) != it.value())
            changed.insert(it.key(), it.value());
    told_ = now;
    if (changed.isEmpty())
        return;
    QDBusMessage signal = QDBusMessage::createSignal(
        QString::fromLatin1(kPath), QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("PropertiesChanged"));
    signal << kPlayerInterface << changed << QStringList();
    QDBusConnection::sessionBus().send(signal);
}

}  // namespace lyb::app

#include "media_controls.moc"
