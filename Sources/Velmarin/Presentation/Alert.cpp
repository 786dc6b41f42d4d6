#include "Velmarin/Presentation/Alert.h"

#include <QAbstractButton>
#include <QPushButton>

namespace tolvex {

Alert::Alert(QMessageBox::Icon icon, QWidget* parent) : box_(new QMessageBox(parent))
{
    box_->setIcon(icon);
    // The headline is the box's own text. A title bar as narrow as a short
    // alert cut a headline there, so the bar names the program instead.
    box_->setWindowTitle(QStringLiteral("Tolvex"));
    box_->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
}

Alert::~Alert()
{
    delete box_.data();
}

void Alert::setTitle(const QString& title)
{
    box_->setText(title);
}

void Alert::setMessage(const QString& message)
{
    box_->setInformativeText(message);
}

void Alert::addButton(const QString& text)
{
    // Qt lays buttons out by role; AcceptRole for the first and RejectRole
    // for the rest keeps the added order on every style while the answer
    // still comes from our own list.
    QPushButton* button = box_->addButton(text, buttons_.isEmpty() ? QMessageBox::AcceptRole : QMessageBox::RejectRole);
    if (buttons_.isEmpty())
        box_->setDefaultButton(button);
    buttons_.append(button);
}

void Alert::setEscapeButton(qsizetype index)
{
    if (box_ && index >= 0 && index < buttons_.size())
        box_->setEscapeButton(buttons_[index]);
}

int Alert::run()
{
    if (!box_)
        return cancelResponse;
    box_->exec();
    // A box closed from outside (done(), a cover) has no clicked button.
    if (!box_)
        return cancelResponse;
    const qsizetype index = buttons_.indexOf(box_->clickedButton());
    return index < 0 ? cancelResponse : firstButtonResponse + static_cast<int>(index);
}

} // namespace tolvex
