#include "Velmarin/Windows/MaterialDetailWindow.h"

#include "Velmarin/Presentation/PanelAppearance.h"
#include "Velmarin/Windows/DetailPreview.h"
#include "Velmarin/Windows/EditorFrame.h"
#include "Velmarin/Windows/EditorSupport.h"
#include "Velmarin/Windows/EditorWindow.h"

#include <QComboBox>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

namespace tolvex {

using EditorSupport::text;

MaterialDetailWindow MaterialDetailWindow::build(const MaterialRecord& record, const std::optional<QImage>& thumbnail,
    const QList<std::pair<QString, QString>>& texts, const Fields& fields, Actions actions)
{
    auto* window = new EditorWindow;
    window->resize(700, 740);
    window->setMinimumSize(540, 400);
    window->shouldClose = [close = actions.close] {
        close();
        return false;
    };
    const EditorFrame::Surface surface = EditorFrame::makeSurface(window);

    auto* content = new QWidget(surface.root);
    auto* contentLayout = new QVBoxLayout(content);
    contentLayout->setContentsMargins(0, 0, 0, 0);
    contentLayout->setSpacing(0);
    auto* scroll = new QScrollArea(content);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    // The scroll view draws no background of its own: paper shows through.
    QPalette paper = scroll->palette();
    paper.setColor(QPalette::Window, PanelAppearance::paper(paper));
    scroll->viewport()->setPalette(paper);
    scroll->viewport()->setAutoFillBackground(true);
    auto* document = new QWidget;
    document->setPalette(paper);
    document->setAutoFillBackground(false);
    auto* column = new QVBoxLayout(document);
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(16);

    // 1. Title.
    column->addWidget(EditorSupport::captionLabel(text(MessageKey::materialTitle)));
    QFont titleFont = fields.title->font();
    titleFont.setPointSize(17);
    titleFont.setWeight(QFont::Medium);
    fields.title->setFont(titleFont);
    fields.title->setFixedHeight(30);
    fields.title->setToolTip(record.title);
    column->addWidget(fields.title);

    // 2. Preview.
    // The preview sits in a holder of its own, so that a new version
    // replaces it in place.
    auto* previewHolder = new QWidget;
    auto* previewColumn = new QVBoxLayout(previewHolder);
    previewColumn->setContentsMargins(0, 0, 0, 0);
    previewColumn->setSpacing(column->spacing());
    QWidget* preview = DetailPreview::add(previewColumn, record, thumbnail, texts);
    column->addWidget(previewHolder);

    // 3. Actions.
    auto* actionRow = new QHBoxLayout;
    actionRow->setSpacing(8);
    const bool isText = record.kind == MaterialKind::text;
    actionRow->addWidget(
        EditorSupport::actionButton(text(isText ? MessageKey::copyWithSource : MessageKey::copy), actions.copy));
    actionRow->addWidget(EditorSupport::actionButton(
        text(record.kind == MaterialKind::file ? MessageKey::showInFinder : MessageKey::openCopy), actions.open));
    if (isText) {
        const bool isNote = record.source.origin == ImportOrigin::note;
        actionRow->addWidget(
            EditorSupport::actionButton(text(isNote ? MessageKey::noteContinue : MessageKey::editText), actions.edit));
    }
    actionRow->addStretch(1);
    column->addLayout(actionRow);

    // 4. Source description (its text is the controller's).
    QLabel* summary = fields.sourceSummary;
    summary->setMaximumHeight(summary->fontMetrics().lineSpacing() * 2 + 4);
    QFont summaryFont = summary->font();
    summaryFont.setPointSize(13);
    summary->setFont(summaryFont);
    summary->setForegroundRole(QPalette::PlaceholderText);
    column->addWidget(summary);

    // 5-6. The disclosure and the source form.
    auto* form = new QWidget;
    auto* formLayout = new QVBoxLayout(form);
    formLayout->setContentsMargins(0, 0, 0, 0);
    formLayout->setSpacing(8);
    formLayout->addWidget(EditorSupport::captionLabel(text(MessageKey::sourceTitle)));
    formLayout->addWidget(fields.sourceTitle);
    formLayout->addWidget(EditorSupport::captionLabel(text(MessageKey::sourceURL)));
    formLayout->addWidget(fields.sourceURL);
    if (fields.sourceProblem) {
        QPalette warning = fields.sourceProblem->palette();
        warning.setColor(QPalette::WindowText, QColor(0xb0, 0x2a, 0x1c));
        fields.sourceProblem->setPalette(warning);
        formLayout->addWidget(fields.sourceProblem);
    }
    formLayout->addWidget(EditorSupport::captionLabel(text(MessageKey::sourceFile)));
    formLayout->addWidget(fields.sourcePath);
    auto* pageRow = new QHBoxLayout;
    pageRow->setSpacing(8);
    fields.sourceLocation->setPlaceholderText(text(MessageKey::sourceLocation));
    pageRow->addWidget(fields.pageKind);
    pageRow->addWidget(fields.sourceLocation, 1);
    formLayout->addLayout(pageRow);
    if (record.source.filePath && !QFileInfo(*record.source.filePath).isReadable()) {
        auto* unavailable = new QLabel(text(MessageKey::sourceUnavailable));
        unavailable->setWordWrap(true);
        formLayout->addWidget(unavailable);
    }
    auto* chooseButton = EditorSupport::actionButton(text(MessageKey::chooseSourceFile), actions.chooseSource);
    formLayout->addWidget(chooseButton, 0, Qt::AlignLeft);
    form->setHidden(true);

    auto* disclosure = new QToolButton;
    disclosure->setObjectName(QStringLiteral("sourceDisclosure"));
    disclosure->setText(text(MessageKey::sourceLabel));
    disclosure->setAccessibleName(text(MessageKey::sourceLabel));
    disclosure->setCheckable(true);
    disclosure->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    disclosure->setArrowType(Qt::RightArrow);
    disclosure->setAutoRaise(true);
    QObject::connect(disclosure, &QToolButton::clicked, disclosure, [mayDisclose = actions.mayDisclose, form, disclosure] {
        if (!form || !mayDisclose())
            return;
        form->setHidden(!form->isHidden());
        disclosure->setArrowType(form->isHidden() ? Qt::RightArrow : Qt::DownArrow);
        disclosure->setChecked(!form->isHidden());
    });
    column->addWidget(disclosure, 0, Qt::AlignLeft);
    column->addWidget(form);
    column->addStretch(1);
    scroll->setWidget(document);
    contentLayout->addWidget(scroll, 1);

    // The footer with the save button.
    auto* saveRow = new QHBoxLayout;
    saveRow->addStretch(1);
    auto* saveButton = EditorSupport::actionButton(text(MessageKey::saveDetails), actions.save);
    EditorFrame::makePrimary(saveButton, window);
    saveRow->addWidget(saveButton);
    contentLayout->addWidget(EditorFrame::makeFooter(content, saveRow));

    QLabel* hiddenLabel = EditorFrame::stackWithCover(surface, content);

    return MaterialDetailWindow{
        window, content, hiddenLabel, preview, previewHolder, saveButton, chooseButton, disclosure};
}

QWidget* MaterialDetailWindow::replacePreview(QWidget* previewHolder, const MaterialRecord& record,
    const std::optional<QImage>& thumbnail, const QList<std::pair<QString, QString>>& texts)
{
    auto* previewColumn = qobject_cast<QVBoxLayout*>(previewHolder->layout());
    while (QLayoutItem* item = previewColumn->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    return DetailPreview::add(previewColumn, record, thumbnail, texts);
}

} // namespace tolvex
