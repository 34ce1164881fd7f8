#pragma once

#include <QObject>
#include <QTimer>
#include <memory>

class QScrollArea;

namespace tintora {

class CompositionView;
class PanoramaPlayback;
class Program;

// "Play in panorama": the output's frames, corrected, played over the
// background in the main window's picture at the output's rate. Any key or
// click in the program stops it on the frame shown, which becomes the video
// window's current frame. Holding B in the main window or the colour palette
// shows the frame as it comes, before the correction, while playing and in
// the still picture.
class PanoramaPlayer : public QObject {
    Q_OBJECT
public:
    PanoramaPlayer(Program& program, QWidget& main_window, CompositionView& view,
                   QScrollArea& scroll_box);
    ~PanoramaPlayer() override;

    // What Space did: a refusal is said to the user (a stopped light pass, by play).
    enum class Start { Playing, NoBackground, NoClip, NothingToPlay, LightStopped };
    // Starts playing from the range's first frame; nothing without a
    // background and a clip.
    Start play();
    bool playing() const { return playback_ != nullptr; }
    // Stops on the frame shown: it becomes the current frame.
    void stop();
    // Something else changes the picture: the playing ends, the frame stays.
    void abort();
    // The source frame of the picture shown while playing; 0 before the first.
    int shown_frame() const { return shown_frame_; }
    // B is held: frames are drawn before the correction.
    bool shows_uncorrected() const { return uncorrected_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void show_due_picture();
    void set_uncorrected(bool uncorrected);
    bool in_main_window(QObject* watched) const;

    Program& program_;
    QWidget& main_window_;
    CompositionView& view_;
    QScrollArea& scroll_box_;
    std::unique_ptr<PanoramaPlayback> playback_;
    QTimer timer_;
    int shown_frame_ = 0;
    bool uncorrected_ = false;
};

}  // namespace tintora
