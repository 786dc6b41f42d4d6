#include "Velmarin/Windows/EditorSupport.h"

#include "Velmarin/Actions/ActionButton.h"
#include "Velmarin/Presentation/Alert.h"
#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Presentation/PanelAppearance.h"
#include "Velmarin/Shelf/Line.h"

#include <QLabel>
#include <QPushButton>
#include <QStringDecoder>

namespace tolvex::EditorSupport {

QString text(MessageKey key)
{
    return appLocalizer().string(key);
}

std::optional<QString> decodeUtf8(const QByteArray& bytes)
{
    QStringDecoder decoder(
        QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString decoded = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return decoded;
}

bool privacyHolds(const Line& line, std::uint64_t epoch)
{
    return !line.isCovered() && line.privacyEpoch() == epoch;
}

bool confirmDiscard(Line& line, const std::function<bool()>& choose)
{
    if (choose)
        return choose();
    const std::uint64_t epoch = line.privacyEpoch();
    Alert alert;
    alert.setTitle(text(MessageKey::editDiscardTitle));
    alert.setMessage(text(MessageKey::editDiscardMessage));
    // Keeping the text is the default answer.
    alert.addButton(text(MessageKey::cancel));
    alert.addButton(text(MessageKey::detailDiscard));
    alert.setEscapeButton(0);
    const int response = line.runAlert(alert);
    return response == Alert::firstButtonResponse + 1 && privacyHolds(line, epoch);
}

QCoro::Task<void> leaveOrDiscard(Line& line, QPointer<QObject> editor, QCoro::Task<void> closing, Leaving leaving)
{
    std::exception_ptr failure;
    try {
        co_await std::move(closing);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!failure || !editor)
        co_return;
    if (!leaving.canDiscard())
        std::rethrow_exception(failure);
    leaving.holdStill(true);
    const bool discard = confirmDiscard(line, leaving.choose);
    if (!editor)
        co_return;
    leaving.holdStill(false);
    if (discard)
        leaving.discard();
}

QLabel* captionLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setPointSize(13);
    label->setFont(font);
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

void stylePrimary(QPushButton* button)
{
    QPalette palette = button->palette();
    palette.setColor(QPalette::Button, PanelAppearance::forest(palette));
    palette.setColor(QPalette::ButtonText, Qt::white);
    button->setPalette(palette);
    button->setMinimumHeight(32);
}

QPushButton* actionButton(const QString& title, std::function<void()> handler, QWidget* parent)
{
    auto* button = new ActionButton(title, std::move(handler), parent);
    button->setAutoDefault(false);
    return button;
}

} // namespace tolvex::EditorSupport
