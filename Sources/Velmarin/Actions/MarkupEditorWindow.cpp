#include "Velmarin/Actions/MarkupEditorWindow.h"

#include "Velmarin/Actions/ActionButton.h"
#include "Velmarin/Actions/MarkupCanvas.h"
#include "Velmarin/Presentation/Alert.h"
#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Presentation/ModalRegistration.h"
#include "Velmarin/Presentation/PanelAppearance.h"
#include "Velmarin/Presentation/WindowPlacement.h"
#include "Velmarin/Shelf/Line.h"

#include <QButtonGroup>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QKeyEvent>
#include <QShortcut>
#include <QPainter>
#include <QPainterPath>
#include <QToolButton>
#include <QVBoxLayout>

namespace tolvex {

namespace {

// Tool icons of our own, so the editor looks the same under every icon theme.
QIcon toolIcon(MarkupMark::Tool tool)
{
    QPixmap pixmap(24, 24);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    MarkupMark sample;
    sample.tool = tool;
    sample.color = QColor(40, 40, 40);
    sample.width = 2;
    switch (tool) {
    case MarkupMark::Tool::pen:
    case MarkupMark::Tool::highlighter:
        sample.color = tool == MarkupMark::Tool::pen ? QColor(40, 40, 40) : QColor(230, 180, 0);
        sample.points = {{3, 18}, {8, 8}, {13, 16}, {20, 5}};
        break;
    case MarkupMark::Tool::rectangle:
        sample.points = {{4, 6}, {20, 18}};
        break;
    case MarkupMark::Tool::arrow:
        sample.points = {{4, 20}, {20, 4}};
        break;
    case MarkupMark::Tool::text:
        sample.points = {{5, 19}};
        sample.text = QStringLiteral("A");
        sample.width = 3;
        break;
    }
    paintMarks(painter, {sample});
    return QIcon(pixmap);
}

QIcon swatch(const QColor& color)
{
    QPixmap pixmap(20, 20);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(color);
    painter.setPen(QPen(Qt::gray, 1));
    painter.drawEllipse(QRectF(2, 2, 16, 16));
    return QIcon(pixmap);
}

QIcon widthIcon(qreal width)
{
    QPixmap pixmap(24, 24);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(40, 40, 40), width / 2, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(4, 12), QPointF(20, 12));
    return QIcon(pixmap);
}

QToolButton* toggle(const QIcon& icon, QButtonGroup* group, int id, QLayout* layout)
{
    auto* button = new QToolButton;
    button->setIcon(icon);
    button->setCheckable(true);
    button->setAutoRaise(true);
    group->addButton(button, id);
    layout->addWidget(button);
    return button;
}

} // namespace

MarkupEditorWindow::MarkupEditorWindow(QImage image, QImage view, QWidget* parent) : QWidget(parent, Qt::Window)
{
    setAttribute(Qt::WA_DeleteOnClose);
    PanelAppearance::paperWindow(this);
    const Localizer localizer = appLocalizer();
    setWindowTitle(localizer.string(MessageKey::markup));

    canvas_ = new MarkupCanvas(std::move(image), std::move(view));
    canvas_->askText = [this] { return askText(); };
    canvas_->onChange = [this] { refreshHistory(); };

    auto* tools = new QHBoxLayout;
    auto* toolGroup = new QButtonGroup(this);
    for (const MarkupMark::Tool tool : {MarkupMark::Tool::pen, MarkupMark::Tool::highlighter,
             MarkupMark::Tool::rectangle, MarkupMark::Tool::arrow, MarkupMark::Tool::text})
        toggle(toolIcon(tool), toolGroup, static_cast<int>(tool), tools);
    toolGroup->button(static_cast<int>(MarkupMark::Tool::pen))->setChecked(true);
    connect(toolGroup, &QButtonGroup::idClicked, this,
        [this](int id) { canvas_->tool = static_cast<MarkupMark::Tool>(id); });
    tools->addSpacing(16);

    const QList<QColor> colors{QColor(220, 40, 40), QColor(240, 200, 0), QColor(40, 120, 220), QColor(40, 160, 80),
        QColor(20, 20, 20)};
    auto* colorGroup = new QButtonGroup(this);
    for (int i = 0; i < colors.size(); ++i)
        toggle(swatch(colors[i]), colorGroup, i, tools);
    colorGroup->button(0)->setChecked(true);
    canvas_->color = colors.first();
    connect(colorGroup, &QButtonGroup::idClicked, this, [this, colors](int id) { canvas_->color = colors[id]; });
    tools->addSpacing(16);

    const QList<qreal> widths{2, 4, 8};
    auto* widthGroup = new QButtonGroup(this);
    for (int i = 0; i < widths.size(); ++i)
        toggle(widthIcon(widths[i] * 2), widthGroup, i, tools);
    widthGroup->button(1)->setChecked(true);
    canvas_->penWidth = widths[1];
    connect(widthGroup, &QButtonGroup::idClicked, this, [this, widths](int id) { canvas_->penWidth = widths[id]; });
    tools->addStretch(1);

    undo_ = new ActionButton(localizer.string(MessageKey::editUndo), [this] { canvas_->undo(); });
    redo_ = new ActionButton(localizer.string(MessageKey::editRedo), [this] { canvas_->redo(); });
    undo_->setShortcut(QKeySequence::Undo);
    redo_->setShortcut(QKeySequence::Redo);
    tools->addWidget(undo_);
    tools->addWidget(redo_);

    auto* actions = new QHBoxLayout;
    actions->addStretch(1);
    actions->addWidget(new ActionButton(localizer.string(MessageKey::cancel), [this] { cancelEditing(); }));
    auto* save = new ActionButton(localizer.string(MessageKey::saveCopy), [this] { finishEditing(); });
    save->setDefault(true);
    // The same key saves in every editing window of the program.
    for (const QKeySequence& keys : {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)})
        connect(new QShortcut(keys, this), &QShortcut::activated, save, &QPushButton::click);
    actions->addWidget(save);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(tools);
    layout->addWidget(canvas_, 1);
    layout->addLayout(actions);
    refreshHistory();
}

MarkupEditorWindow::~MarkupEditorWindow()
{
    // Deleted without closing (the application quitting): still answer once.
    end(false);
}

std::optional<QString> MarkupEditorWindow::askText()
{
    if (line_ && line_->isCovered())
        return std::nullopt;
    // On the heap: the window may be dismissed while the question runs.
    const QPointer<QInputDialog> dialog = new QInputDialog(this);
    dialog->setWindowTitle(windowTitle());
    dialog->setInputMode(QInputDialog::TextInput);
    const Localizer localizer = appLocalizer();
    dialog->setLabelText(localizer.string(MessageKey::markupTextPrompt));
    dialog->setOkButtonText(localizer.string(MessageKey::markupPlaceText));
    dialog->setCancelButtonText(localizer.string(MessageKey::cancel));
    std::optional<ModalRegistration> registration;
    if (line_)
        registration.emplace(*line_, dialog.data());
    const bool accepted = dialog->exec() == QDialog::Accepted;
    const bool cancelled = registration && registration->cancelled();
    registration.reset();
    if (!dialog)
        return std::nullopt;
    const QString words = dialog->textValue();
    delete dialog.data();
    if (!accepted || cancelled)
        return std::nullopt;
    return words;
}

void MarkupEditorWindow::followPrivacy(Line& line)
{
    line_ = &line;
    privacy_ = line.snapshot.subscribe([this](const WorkspaceSnapshot& snapshot) {
        if (snapshot.privacyHidden)
            hide();
        else if (!ended_ && !isVisible())
            show();
    });
}

void MarkupEditorWindow::refreshHistory()
{
    undo_->setEnabled(canvas_->canUndo());
    redo_->setEnabled(canvas_->canRedo());
}

bool MarkupEditorWindow::mayLeave()
{
    if (canvas_->marks().isEmpty())
        return true;
    const Localizer localizer = appLocalizer();
    // The question the text editors ask before they let text go: keeping the
    // marks is the default answer, and a cover ends it with that answer.
    Alert alert(QMessageBox::Warning, this);
    alert.setTitle(localizer.string(MessageKey::markupDiscardTitle));
    alert.addButton(localizer.string(MessageKey::cancel));
    alert.addButton(localizer.string(MessageKey::detailDiscard));
    // Escape keeps them too: a second press of the key that asked must not
    // throw them away.
    alert.setEscapeButton(0);
    question_ = alert.window();
    const int response = line_ ? line_->runAlert(alert) : alert.run();
    question_ = nullptr;
    if (dismissed_) {
        deleteLater();
        return false;
    }
    return !ended_ && response == Alert::firstButtonResponse + 1;
}

void MarkupEditorWindow::finishEditing()
{
    end(true);
    close();
}

void MarkupEditorWindow::cancelEditing()
{
    if (!ended_ && !mayLeave())
        return;
    end(false);
    close();
}

void MarkupEditorWindow::dismiss()
{
    ended_ = true;
    dismissed_ = true;
    hide();
    if (question_)
        question_->done(Alert::cancelResponse);
    else
        deleteLater();
}

void MarkupEditorWindow::setVisible(bool visible)
{
    // Once: a window shown again after a privacy cover stays where the user
    // left it.
    if (visible && !placed_) {
        placed_ = true;
        WindowPlacement::fitAndCentre(this);
    }
    QWidget::setVisible(visible);
}

void MarkupEditorWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        cancelEditing();
        return;
    }
    QWidget::keyPressEvent(event);
}

void MarkupEditorWindow::closeEvent(QCloseEvent* event)
{
    if (!ended_ && !mayLeave()) {
        event->ignore();
        return;
    }
    end(false);
    event->accept();
}

void MarkupEditorWindow::end(bool done)
{
    if (ended_)
        return;
    ended_ = true;
    if (done) {
        if (onDone)
            onDone(renderMarks(canvas_->image(), canvas_->marks()));
    } else if (onCancel) {
        onCancel();
    }
}

} // namespace tolvex
