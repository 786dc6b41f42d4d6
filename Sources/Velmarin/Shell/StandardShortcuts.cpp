#include "Velmarin/Shell/StandardShortcuts.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

namespace tolvex::StandardShortcuts {

namespace {

class Filter final : public QObject {
public:
    Filter(QObject* parent, std::function<void()> quit) : QObject(parent), quit_(std::move(quit)) {}

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->modifiers() != Qt::ControlModifier || key->isAutoRepeat())
            return false;
        if (key->key() == Qt::Key_Q) {
            if (quit_)
                quit_();
            return true;
        }
        if (key->key() == Qt::Key_W) {
            if (QWidget* window = QApplication::activeWindow()) {
                window->close();
                return true;
            }
        }
        return false;
    }

private:
    std::function<void()> quit_;
};

} // namespace

void install(QObject* application, std::function<void()> quit)
{
    application->installEventFilter(new Filter(application, std::move(quit)));
}

} // namespace tolvex::StandardShortcuts
