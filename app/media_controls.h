// The desktop's media controls and media keys: Lyrabell as a media player on
// the session bus (org.mpris.MediaPlayer2.lyrabell, the object
// /org/mpris/MediaPlayer2 with the MediaPlayer2 and MediaPlayer2.Player
// interfaces).
//
// Playing, pausing, seeking and the speed go straight to the playback
// controller; what needs the window (playing a row, Next and Previous in the
// list, Stop as Done, Raise, Quit) is asked of it with a signal sent from the
// event loop, after the bus call has been answered. Which rows there are to
// play is asked of the window through the stepper.
//
// Nothing is polled: the properties are read when asked, Position from the
// controller's current position. PropertiesChanged goes out once per turn of
// the event loop in which the player's state, speed or voicemail changed, with
// the properties that changed; Seeked goes out on every seek or skip.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>

class QDBusObjectPath;

namespace lyb::app {

class CPlaybackController;
class CPlayerAdaptor;

// The voicemail loaded in the player, as the desktop shows it.
struct MediaTrack {
    QString caller;       // the caller's name; may be empty
    QString number;       // the number's display form; may be empty
    qint64 received = 0;  // seconds since 1970; 0 when unknown
    QString file;         // the recording's file, for a local file; else empty
};

class CMediaControls final : public QObject {
    Q_OBJECT

public:
    static constexpr const char* kService = "org.mpris.MediaPlayer2.lyrabell";
    static constexpr const char* kPath = "/org/mpris/MediaPlayer2";
    static constexpr const char* kIdentity = "Lyrabell";
    static constexpr const char* kDesktopEntry = "org.lyrabell.Lyrabell";
    static constexpr const char* kUnknownCaller = "Unknown caller";

    explicit CMediaControls(CPlaybackController* player, QObject* parent = nullptr);
    ~CMediaControls() override;

    // Exports the object and takes the bus name; false without a session bus
    // or when another process holds the name.
    bool publish();
    // The voicemail just loaded; forgotten when the player is closed.
    void setTrack(const MediaTrack& track);
    // Whether the window has a voicemail `by` rows from the loaded one to
    // play (by 0: one to start playing while nothing is loaded).
    void setStepper(std::function<bool(int by)> canStep) { canStep_ = std::move(canStep); }

    // The Player interface's properties, as read from the bus.
    QString playbackStatus() const;
    QVariantMap metadata() const;
    qlonglong position() const;  // microseconds
    double rate() const;
    void setRate(double rate);
    static double maximumRate();
    bool canPlay() const;
    bool canPause() const;
    bool canSeek() const { return canPause(); }
    bool canGoNext() const { return canStep(+1); }
    bool canGoPrevious() const { return canStep(-1); }

    // The Player interface's methods.
    void playPause();
    void play();
    void pause();
    void stop();
    void next();
    void previous();
    void seek(qlonglong offset);
    void setPosition(const QDBusObjectPath& track, qlonglong position);
    // The MediaPlayer2 interface's methods.
    void raise();
    void quit();

signals:
    void raiseRequested();
    void quitRequested();
    // Play the window's selected voicemail (nothing is loaded).
    void playRequested();
    // Done with the loaded voicemail.
    void stopRequested();
    // Play the voicemail `by` rows from the loaded one.
    void stepRequested(int by);

private:
    bool canStep(int by) const { return canStep_ && canStep_(by); }
    QString trackPath() const;
    QVariantMap changing() const;
    // Tells the properties that changed, from the event loop, once.
    void schedule();
    void tell();
    void later(void (CMediaControls::*signal)());

    CPlaybackController* player_;
    CPlayerAdaptor* adaptor_;
    std::function<bool(int)> canStep_;
    MediaTrack track_;
    bool loaded_ = false;
    int serial_ = 0;  // numbers the tracks
    bool scheduled_ = false;
    bool published_ = false;
    QVariantMap told_;
    QString artUrl_;
};

}  // namespace lyb::app
