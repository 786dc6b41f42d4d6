#include "Velmarin/Shelf/PrivacyPlaceholder.h"

#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Presentation/PanelSurface.h"

#include <QLabel>
#include <QVBoxLayout>

namespace tolvex {

QWidget* privacyPlaceholder(QWidget* window)
{
    const QRect bounds = window && window->size().isValid() && !window->size().isEmpty()
        ? QRect(QPoint(0, 0), window->size())
        : QRect(0, 0, 500, 300);
    auto* surface = new PanelSurface(bounds);
    auto* label = new QLabel(appLocalizer().string(MessageKey::contentHidden), surface);
    QFont font = label->font();
    font.setPointSize(13);
    label->setFont(font);
    label->setForegroundRole(QPalette::PlaceholderText);
    label->setAlignment(Qt::AlignCenter);
    auto* layout = new QVBoxLayout(surface);
    layout->addWidget(label, 0, Qt::AlignCenter);
    return surface;
}

} // namespace tolvex
