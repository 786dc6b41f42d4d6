#include "Velmarin/Windows/RecoveryLists.h"

#include "Velmarin/Actions/ActionButton.h"
#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Presentation/PanelAppearance.h"
#include "Velmarin/Shelf/PrivacyPlaceholder.h"
#include "Velmarin/Windows/ElidedLabel.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>

namespace tolvex::RecoveryLists {

QString middleDot()
{
    return QStringLiteral(" \u00B7 ");
}

QString text(MessageKey key)
{
    return appLocalizer().string(key);
}

QLabel* label(const QString& content, bool wraps)
{
    auto* made = new QLabel(content);
    made->setWordWrap(wraps);
    made->setTextFormat(Qt::PlainText);
    return made;
}

QLabel* oneLine(const QString& content)
{
    return new ElidedLabel(content);
}

QWidget* twoLines(const QString& title, const QString& detail)
{
    auto* caption = new QWidget;
    auto* lines = new QVBoxLayout(caption);
    lines->setContentsMargins(0, 0, 0, 0);
    lines->setSpacing(2);
    lines->addWidget(oneLine(title));
    QLabel* below = label(detail, true);
    below->setForegroundRole(QPalette::PlaceholderText);
    lines->addWidget(below);
    return caption;
}

QString when(Date date)
{
    const QDateTime moment = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(date.unixSeconds() * 1000));
    const QLocale locale(appLocalizer().language());
    // The language's short form, to the second: two drafts kept in the same
    // minute still read apart.
    QString format = locale.dateTimeFormat(QLocale::ShortFormat);
    const qsizetype minutes = format.indexOf(QLatin1String("mm"));
    if (!format.contains(u's') && minutes >= 0)
        format.insert(minutes + 2, QStringLiteral(":ss"));
    // A wrapped line breaks before the moment, never inside it.
    return locale.toString(moment.toLocalTime(), format).replace(u' ', QChar(0x00A0));
}

QVBoxLayout* listColumn(QWidget* stack, MessageKey help)
{
    auto* layout = new QVBoxLayout(stack);
    layout->setSpacing(14);
    layout->setContentsMargins(22, 22, 22, 22);
    // Top only: a layout aligned left too would shrink to its hint and
    // wrap every help text into a narrow column.
    layout->setAlignment(Qt::AlignTop);
    layout->addWidget(label(text(help), true));
    return layout;
}

void addRow(QVBoxLayout* list, QWidget* caption, int spacing, const QList<RowAction>& actions)
{
    auto* line = new QHBoxLayout;
    if (spacing >= 0)
        line->setSpacing(spacing);
    // The caption takes the room, the buttons keep their natural width.
    line->addWidget(caption, 1);
    for (const RowAction& action : actions)
        line->addWidget(new ActionButton(text(action.title), action.handler));
    list->addLayout(line);
}

QWidget* makeWindow(const QString& title)
{
    auto* window = new QWidget(nullptr, Qt::Window);
    window->setWindowTitle(title);
    window->resize(580, 380);
    // The paper of the program's other windows, under the lists too.
    PanelAppearance::paperWindow(window);
    return window;
}

QScrollArea* scrollAround(QWidget* stack)
{
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll->setWidget(stack);
    return scroll;
}

QWidget* contentOf(QWidget* window)
{
    QLayout* layout = window->layout();
    return layout && layout->count() > 0 ? layout->itemAt(0)->widget() : nullptr;
}

void setContent(QWidget* window, QWidget* content)
{
    auto* layout = static_cast<QVBoxLayout*>(window->layout());
    if (!layout) {
        layout = new QVBoxLayout(window);
        layout->setContentsMargins(0, 0, 0, 0);
    }
    while (QLayoutItem* item = layout->takeAt(0)) {
        // The old content may hold the button whose click is running: it
        // leaves the window now and is freed once the click has returned.
        if (QWidget* old = item->widget()) {
            old->hide();
            old->setParent(nullptr);
            old->deleteLater();
        }
        delete item;
    }
    layout->addWidget(content);
}

void present(QWidget* window)
{
    if (const QScreen* screen = window->screen()) {
        QRect frame = window->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
    window->show();
    window->raise();
    window->activateWindow();
}

void coverAndRelease(QWidget* window)
{
    window->hide();
    window->setWindowTitle(text(MessageKey::contentHidden));
    setContent(window, privacyPlaceholder(window));
    window->deleteLater();
}

} // namespace tolvex::RecoveryLists
