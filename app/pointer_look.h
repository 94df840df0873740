#pragma once

#include <QObject>
#include <QTimer>

class QWidget;

// The mouse pointer over the picture: a closed hand while the picture is dragged; hidden once
// it rests while the viewer is full screen or showing a slideshow, back as soon as it moves.
class PointerLook : public QObject {
    Q_OBJECT

  public:
    static constexpr int kRestMs = 1500;

    explicit PointerLook(QWidget* surface);

    // What the viewer is doing now; call after each change of it.
    void update(bool dragging, bool hideWhenResting);
    // The pointer moved over the surface.
    void moved();

    // Tests shorten the rest.
    void setRestMs(int ms) { rest_.setInterval(ms); }

  private:
    void apply();

    QWidget* surface_;
    QTimer rest_;
    bool dragging_ = false;
    bool hideWhenResting_ = false;
    bool resting_ = false;
};
