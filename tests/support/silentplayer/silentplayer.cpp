// A media back end for the tests that has no sound device behind it: the
// player's state follows play() and stop() at once, so a test sees exactly
// when the program starts and stops its sound.
#include <QMediaPlayerControl>
#include <QMediaService>
#include <QMediaServiceProviderPlugin>

namespace
{

class SilentPlayerControl : public QMediaPlayerControl
{
public:
    explicit SilentPlayerControl(QObject *parent) : QMediaPlayerControl(parent) {}
    QMediaPlayer::State state() const override { return m_state; }
    QMediaPlayer::MediaStatus mediaStatus() const override { return m_status; }
    qint64 duration() const override { return 1000; }
    qint64 position() const override { return 0; }
    void setPosition(qint64) override {}
    int volume() const override { return 100; }
    void setVolume(int) override {}
    bool isMuted() const override { return false; }
    void setMuted(bool) override {}
    int bufferStatus() const override { return 100; }
    bool isAudioAvailable() const override { return true; }
    bool isVideoAvailable() const override { return false; }
    bool isSeekable() const override { return false; }
    QMediaTimeRange availablePlaybackRanges() const override { return {}; }
    qreal playbackRate() const override { return 1; }
    void setPlaybackRate(qreal) override {}
    QMediaContent media() const override { return m_media; }
    const QIODevice *mediaStream() const override { return nullptr; }
    void setMedia(const QMediaContent &media, QIODevice *) override
    {
        m_media = media;
        emit mediaChanged(media);
        m_status = media.isNull() ? QMediaPlayer::NoMedia : QMediaPlayer::LoadedMedia;
        emit mediaStatusChanged(m_status);
    }
    void play() override { setState(QMediaPlayer::PlayingState); }
    void pause() override { setState(QMediaPlayer::PausedState); }
    void stop() override { setState(QMediaPlayer::StoppedState); }

private:
    void setState(QMediaPlayer::State state)
    {
        if (m_state != state)
            emit stateChanged(m_state = state);
    }
    QMediaPlayer::State m_state = QMediaPlayer::StoppedState;
    QMediaPlayer::MediaStatus m_status = QMediaPlayer::NoMedia;
    QMediaContent m_media;
};

class SilentPlayerService : public QMediaService
{
    Q_OBJECT
public:
    SilentPlayerService() : QMediaService(nullptr), m_control(this) {}
    QMediaControl *requestControl(const char *name) override
    {
        return qstrcmp(name, QMediaPlayerControl_iid) == 0 ? &m_control : nullptr;
    }
    void releaseControl(QMediaControl *) override {}

private:
    SilentPlayerControl m_control;
};

} // namespace

class SilentPlayerPlugin : public QMediaServiceProviderPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.qt.mediaserviceproviderfactory/5.0" FILE
                          "silentplayer.json")
public:
    QMediaService *create(const QString &) override { return new SilentPlayerService; }
    void release(QMediaService *service) override { delete service; }
};

#include "silentplayer.moc"
