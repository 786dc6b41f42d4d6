#include "Velmarin/Windows/NoteEditorWindow.h"

#include "Velmarin/Windows/EditorFrame.h"
#include "Velmarin/Windows/EditorSupport.h"
#include "Velmarin/Windows/EditorWindow.h"
#include "Velmarin/Windows/NoteTextView.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace tolvex {

using EditorSupport::text;

namespace {

constexpr int noteLineHeightPercent = 170;

} // namespace

NoteEditorWindow NoteEditorWindow::build(const Kept& kept, Actions actions)
{
    NoteEditorWindow built;
    built.placeholder = kept.placeholder;

    auto* window = new EditorWindow;
    window->resize(488, 424);
    window->setMinimumSize(420, 320);
    window->shouldClose = [leave = actions.leave] {
        leave();
        return false;
    };
    window->onResignActive = std::move(actions.resignActive);

    const EditorFrame::Surface surface = EditorFrame::makeSurface(window);
    surface.stack->setSpacing(0);

    auto* column = new QWidget(surface.root);
    auto* columnLayout = new QVBoxLayout(column);
    columnLayout->setContentsMargins(0, 0, 0, 0);
    columnLayout->setSpacing(0);

    auto* header = new QWidget(column);
    header->setFixedHeight(54);
    auto* headerLayout = new QHBoxLayout(header);
    auto* titleLabel = new QLabel(text(MessageKey::noteTitle), header);
    QFont titleFont = titleLabel->font();
    titleFont.setPointSize(14);
    titleFont.setWeight(QFont::DemiBold);
    titleLabel->setFont(titleFont);
    headerLayout->addWidget(titleLabel, 0, Qt::AlignCenter);
    columnLayout->addWidget(header);

    NoteTextView* textView = kept.textView;
    auto* content = new QWidget(column);
    auto* contentLayout = new QVBoxLayout(content);
    contentLayout->setContentsMargins(0, 0, 0, 0);
    contentLayout->setSpacing(0);
    textView->setFrameShape(QFrame::NoFrame);
    textView->applyEditorStyle(noteLineHeightPercent);
    textView->setAccessibleName(text(MessageKey::noteTitle));
    contentLayout->addWidget(textView, 1);
    if (!built.placeholder) {
        auto* placeholder = new QLabel(text(MessageKey::notePlaceholder), textView->viewport());
        placeholder->setWordWrap(true);
        QFont font = placeholder->font();
        font.setPointSize(17);
        placeholder->setFont(font);
        placeholder->setForegroundRole(QPalette::PlaceholderText);
        placeholder->setAttribute(Qt::WA_TransparentForMouseEvents);
        auto* overlay = new QVBoxLayout(textView->viewport());
        overlay->setContentsMargins(29, 26, 30, 0);
        overlay->addWidget(placeholder);
        overlay->addStretch(1);
        built.placeholder = placeholder;
    }

    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    kept.statusIcon->setFixedSize(13, 13);
    QFont statusFont = kept.statusLabel->font();
    statusFont.setPointSize(12);
    kept.statusLabel->setFont(statusFont);
    kept.statusLabel->setTextFormat(Qt::PlainText);
    row->addWidget(kept.statusIcon);
    row->addWidget(kept.statusLabel, 1);
    row->addSpacing(12);
    auto* dismissButton = EditorSupport::actionButton(text(MessageKey::noteDismiss), std::move(actions.leave));
    dismissButton->setFlat(true);
    auto* hangButton = EditorSupport::actionButton(QString(), std::move(actions.hang));
    // The text view takes Ctrl+Return itself, so the button binds no keys.
    EditorFrame::makePrimary(hangButton);
    hangButton->setAccessibleName(text(MessageKey::noteHang));
    row->addWidget(dismissButton);
    row->addSpacing(4);
    row->addWidget(hangButton);
    contentLayout->addWidget(EditorFrame::makeFooter(content, row));
    columnLayout->addWidget(content, 1);
    // Takes the room while the content is hidden, so the header stays at
    // the top instead of sinking onto the centred privacy label.
    columnLayout->addStretch(0);

    built.window = window;
    built.content = content;
    built.hiddenLabel = EditorFrame::stackWithCover(surface, column);
    built.titleLabel = titleLabel;
    built.hangButton = hangButton;
    return built;
}

void NoteEditorWindow::showStatus(QLabel& icon, QLabel& label, MessageKey key)
{
    const bool failure = key == MessageKey::noteSaveFailed || key == MessageKey::feedbackCapacity;
    label.setText(text(key));
    QPalette palette = label.palette();
    palette.setColor(QPalette::WindowText, failure ? QColor(Qt::red) : label.palette().color(QPalette::PlaceholderText));
    label.setPalette(palette);
    const QStyle::StandardPixmap symbol = failure ? QStyle::SP_MessageBoxWarning
        : key == MessageKey::noteSaving         ? QStyle::SP_BrowserReload
                                                : QStyle::SP_DialogApplyButton;
    icon.setPixmap(icon.style()->standardIcon(symbol).pixmap(13, 13));
}

} // namespace tolvex
