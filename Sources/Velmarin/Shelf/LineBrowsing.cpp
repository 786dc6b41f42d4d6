// The line's geometry: scrolling, the cards the view builds, the hit test
// that decides which clicks the click-through panel takes, keyboard browsing
// and the entry hint.
#include "Velmarin/Shelf/Line.h"

#include "Velmarin/Common/UserDefaults.h"
#include "Velmarin/Shelf/LineGeometry.h"

#include <QPointer>

#include <algorithm>
#include <cmath>

namespace tolvex {

double Line::contentWidth(double width) const
{
    return LineGeometry::contentWidth(items->size(), width);
}

double Line::maxScrollOffset(double width) const
{
    return LineGeometry::maxScrollOffset(items->size(), width);
}

double Line::cardX(int index, double width) const
{
    return LineGeometry::cardX(index, items->size(), width, scrollOffset());
}

void Line::resizeViewport(double width)
{
    viewportWidth = std::max(width, 0.0);
    scrollOffset = std::min(scrollOffset(), maxScrollOffset(viewportWidth()));
}

void Line::scroll(double delta)
{
    if (!revealed() || isCovered() || draggingID() || pressedID() || !std::isfinite(delta))
        return;
    scrollOffset = std::min(std::max(scrollOffset() + delta, 0.0), maxScrollOffset(viewportWidth()));
}

QList<int> Line::presentedIndices(double width) const
{
    const int n = static_cast<int>(items->size());
    QList<int> indices;
    if (n <= LineGeometry::wholeRowLimit || !(width > 0)) {
        for (int i = 0; i < n; ++i)
            indices.append(i);
        return indices;
    }
    const double x0 = cardX(0, width);
    const double low = std::floor((-LineGeometry::buildReach - x0) / LineGeometry::pitch);
    const int lo = static_cast<int>(std::clamp(low, 0.0, static_cast<double>(n)));
    const double high = std::ceil((width + LineGeometry::buildReach - x0) / LineGeometry::pitch) + 1;
    const int hi = std::max(static_cast<int>(std::min(high, static_cast<double>(n))), lo);
    for (int i = lo; i < hi; ++i)
        indices.append(i);
    // A card under the pointer's drag or press stays built wherever it is.
    for (const std::optional<QUuid>& held : {draggingID(), pressedID()}) {
        if (!held)
            continue;
        const int index = static_cast<int>(indexOf(*held));
        if (index >= 0 && !indices.contains(index))
            indices.append(index);
    }
    std::sort(indices.begin(), indices.end());
    return indices;
}

QRectF Line::pageControlsRegion(double width) const
{
    if (revealed() && !isCovered() && contentWidth(viewportWidth()) > viewportWidth())
        return LineGeometry::pageControls(width);
    return QRectF();
}

bool Line::acceptsClick(const QPointF& point, double width) const
{
    if (!revealed())
        return false;
    if (!QRectF(0, 0, width, LineGeometry::stripHeight).contains(point))
        return false;
    if (LineGeometry::ropeInputStrip(width).contains(point))
        return true;
    if (isCovered())
        return false;
    const double m = LineGeometry::hitMargin;
    for (const QRectF& rect : hitRects) {
        if (rect.adjusted(-m, -m, m, m).contains(point))
            return true;
    }
    return pageControlsRegion(width).contains(point);
}

void Line::selectForKeyboard(int step)
{
    const qsizetype n = items->size();
    if (!revealed() || isCovered() || n == 0 || pressedID() || draggingID())
        return;
    const qsizetype current = keyboardID() ? indexOf(*keyboardID()) : -1;
    const qsizetype target = std::clamp<qsizetype>(current >= 0 ? current + step : 0, 0, n - 1);
    keyboardID = items()[target].id;

    const double width = viewportWidth();
    const double x = cardX(static_cast<int>(target), width);
    if (x - LineGeometry::halfCard < 0)
        scroll(x - LineGeometry::halfCard - LineGeometry::keyboardMargin);
    if (width < x + LineGeometry::halfCard)
        scroll(x + LineGeometry::halfCard + LineGeometry::keyboardMargin - width);
}

bool Line::showsEntryHint() const
{
    return !entryHintDismissed() && revealed() && canOpenIntakeSettings() && !isCovered() && dropCount() == 0
        && inputFeedback->isEmpty();
}

void Line::dismissEntryHint()
{
    if (isCovered() || entryHintDismissed())
        return;
    entryHintDismissed = true;
    hintDefaults_.setValue(entryHintKey, true);
}

std::function<void()> Line::onOpenIntakeSettings()
{
    return [self = QPointer<Line>(this)] {
        if (!self)
            return;
        self->dismissEntryHint();
        if (self->openSettingsAction)
            self->openSettingsAction();
    };
}

std::function<void()> Line::onNewNote()
{
    return [self = QPointer<Line>(this)] {
        if (!self)
            return;
        self->dismissEntryHint();
        if (self->newNoteAction)
            self->newNoteAction();
    };
}

} // namespace tolvex
