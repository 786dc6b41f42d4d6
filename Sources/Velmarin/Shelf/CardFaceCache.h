#pragma once

#include <QImage>
#include <QRect>

#include <cstdint>
#include <functional>
#include <vector>

class QPainter;

namespace tolvex {

// A hanging card's face (its framed picture, resting shadow and pin) drawn
// tilted once per angle step and sub-pixel position, then only copied at
// every frame: a rotated, filtered drawing of every card at every frame is
// what kept a swaying shelf busy. The faces of one card's content; cleared
// when the content changes. Least recently used faces go first.
class CardFaceCache {
public:
    static constexpr std::size_t capacity = 24;

    struct Key {
        int angleStep = 0;
        double phaseX = 0; // where the pivot lies inside its device pixel
        double phaseY = 0;
        double devicePixelRatio = 1;
        friend bool operator==(const Key&, const Key&) = default;
    };

    // The face for `key`: an image in device pixels whose top left lies at
    // `bounds.topLeft()` from the pivot's whole device pixel. On a miss,
    // `draw` paints it into a transparent image of `bounds`' size whose
    // painter is already moved so that the pivot's whole pixel is at 0, 0.
    const QImage& face(const Key& key, const QRect& bounds, const std::function<void(QPainter&)>& draw);
    // The face for `key` if it has been drawn, without drawing it.
    const QImage* find(const Key& key);
    void clear();
    std::size_t size() const { return entries_.size(); }
    // Faces drawn since the cache was made.
    std::int64_t drawn() const { return drawn_; }

private:
    struct Entry {
        Key key;
        QImage image;
        std::uint64_t used = 0;
    };
    std::vector<Entry> entries_;
    std::uint64_t clock_ = 0;
    std::int64_t drawn_ = 0;
};

} // namespace tolvex
