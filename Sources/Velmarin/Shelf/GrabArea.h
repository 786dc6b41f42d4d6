#pragma once

#include "Velmarin/Shelf/Pegged.h"

#include <QPointer>

class QMenu;
class QWidget;

namespace tolvex {

class GrabView;
class Line;

// Fills a card's gesture layer from the line: what each gesture does for
// this card, whether it may be dragged, what assistive technology hears.
// Every callback reads the line anew when it runs and does nothing once the
// line is gone.
struct GrabArea {
    Pegged item;
    QPointer<Line> line;

    GrabView* make(QWidget* parent) const;
    void update(GrabView& view) const { configure(view); }
    static void dismantle(GrabView& view);

    void configure(GrabView& view) const;
    // The card's context menu, built anew for each request; the caller owns it.
    QMenu* cardMenu() const;
};

} // namespace tolvex
