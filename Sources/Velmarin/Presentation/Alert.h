#pragma once

#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QString>

#include <memory>

namespace tolvex {

// A modal alert over QMessageBox with the response numbering every caller
// relies on: the first button added answers 1000, the next 1001, and so on;
// an alert ended in any other way (closed from outside, by a privacy cover)
// answers 0. Run it through Line::runAlert so that a cover can end it; run()
// alone does not register it anywhere. GUI thread only.
class Alert {
public:
    static constexpr int cancelResponse = 0;
    static constexpr int firstButtonResponse = 1000;

    explicit Alert(QMessageBox::Icon icon = QMessageBox::Warning, QWidget* parent = nullptr);
    ~Alert();
    Alert(const Alert&) = delete;
    Alert& operator=(const Alert&) = delete;

    // The headline (the text of the box; its title bar names the program),
    // and the explanation below it.
    void setTitle(const QString& title);
    void setMessage(const QString& message);
    // Buttons appear and answer in the order added; the first is the default.
    // An alert without buttons gets Qt's own OK button, which answers 0.
    void addButton(const QString& text);
    // The button that Escape and the title bar's close answer with. Without
    // one, Qt picks the lone second button of a two-button alert, which is
    // the destructive answer of every "discard?" question.
    void setEscapeButton(qsizetype index);

    // The window to register while the alert runs.
    QMessageBox* window() const { return box_; }

    // Shows the alert and waits (in a nested event loop) for its answer.
    int run();

private:
    QPointer<QMessageBox> box_;
    QList<QAbstractButton*> buttons_;
};

} // namespace tolvex
