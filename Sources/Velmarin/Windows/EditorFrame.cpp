#include "Velmarin/Windows/EditorFrame.h"

#include "Velmarin/Presentation/PanelSurface.h"
#include "Velmarin/Presentation/WindowPlacement.h"
#include "Velmarin/Shelf/Line.h"
#include "Velmarin/Windows/EditorSupport.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QSpacerItem>
#include <QVBoxLayout>

#include <optional>

namespace tolvex::EditorFrame {

Surface makeSurface(QWidget* window)
{
    auto* outer = new QVBoxLayout(window);
    outer->setContentsMargins(0, 0, 0, 0);
    // The window is never smaller than its content needs: a longer
    // translation widens it instead of cutting a button. The window's own
    // minimum becomes a spacer under the content, so both count.
    outer->setSizeConstraint(QLayout::SetMinimumSize);
    auto* root = new PanelSurface(window);
    outer->addWidget(root);
    auto* stack = new QGridLayout(root);
    stack->setContentsMargins(0, 0, 0, 0);
    const QSize least = window->minimumSize();
    stack->addItem(new QSpacerItem(least.width(), least.height(), QSizePolicy::Minimum, QSizePolicy::Minimum), 0, 0);
    return Surface{root, stack};
}

QLabel* stackWithCover(const Surface& surface, QWidget* content)
{
    auto* hiddenLabel = EditorSupport::captionLabel(EditorSupport::text(MessageKey::contentHidden), surface.root);
    surface.stack->addWidget(content, 0, 0);
    surface.stack->addWidget(hiddenLabel, 0, 0, Qt::AlignCenter);
    return hiddenLabel;
}

QWidget* makeFooter(QWidget* parent, QHBoxLayout* row)
{
    auto* footer = new QWidget(parent);
    footer->setFixedHeight(72);
    auto* column = new QVBoxLayout(footer);
    column->setContentsMargins(0, 0, 0, 0);
    auto* separator = new QFrame(footer);
    separator->setFrameShape(QFrame::HLine);
    separator->setFrameShadow(QFrame::Sunken);
    column->addWidget(separator);
    row->setContentsMargins(24, 0, 24, 0);
    column->addStretch(1);
    column->addLayout(row);
    column->addStretch(1);
    return footer;
}

void makePrimary(QPushButton* button, QWidget* submitKeysIn)
{
    EditorSupport::stylePrimary(button);
    button->setDefault(true);
    if (!submitKeysIn)
        return;
    for (const QKeySequence& keys : {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)}) {
        auto* shortcut = new QShortcut(keys, submitKeysIn);
        QObject::connect(shortcut, &QShortcut::activated, button, &QPushButton::click);
    }
}

void present(QWidget* window)
{
    WindowPlacement::fitAndCentre(window);
    window->show();
    window->raise();
    window->activateWindow();
}

Subscription followPrivacy(Line& line, std::function<void(bool hidden)> changed)
{
    return line.snapshot.subscribe(
        [changed = std::move(changed), last = std::optional<bool>()](const WorkspaceSnapshot& snapshot) mutable {
            if (last == snapshot.privacyHidden)
                return;
            last = snapshot.privacyHidden;
            changed(snapshot.privacyHidden);
        });
}

} // namespace tolvex::EditorFrame
