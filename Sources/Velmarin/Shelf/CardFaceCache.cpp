#include "Velmarin/Shelf/CardFaceCache.h"

#include <QPainter>

#include <algorithm>

namespace tolvex {

const QImage* CardFaceCache::find(const Key& key)
{
    ++clock_;
    for (Entry& entry : entries_) {
        if (entry.key == key) {
            entry.used = clock_;
            return &entry.image;
        }
    }
    return nullptr;
}

const QImage& CardFaceCache::face(const Key& key, const QRect& bounds, const std::function<void(QPainter&)>& draw)
{
    if (const QImage* found = find(key))
        return *found;
    if (entries_.size() >= capacity) {
        const auto oldest = std::min_element(entries_.begin(), entries_.end(),
            [](const Entry& a, const Entry& b) { return a.used < b.used; });
        entries_.erase(oldest);
    }
    QImage image(bounds.size().expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.translate(-bounds.topLeft());
        draw(painter);
    }
    ++drawn_;
    entries_.push_back({key, std::move(image), clock_});
    return entries_.back().image;
}

void CardFaceCache::clear()
{
    entries_.clear();
}

} // namespace tolvex
