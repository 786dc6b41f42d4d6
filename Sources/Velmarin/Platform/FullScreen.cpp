#include "Velmarin/Platform/FullScreen.h"

#include "Velmarin/Platform/X11DisplaySpaces.h"

#include <QScreen>
#include <QVariantList>
#include <QVariantMap>

namespace tolvex::FullScreen {

namespace {

// Booleans convert to numbers too; a type stored as one is malformed.
bool isPlainNumber(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Double:
    case QMetaType::Float:
        return true;
    default:
        return false;
    }
}

} // namespace

State parse(const QVariant& answer, const std::optional<QString>& displayIdentifier)
{
    if (answer.typeId() != QMetaType::QVariantList)
        return State::unknown;
    const QVariantList displays = answer.toList();
    if (displays.isEmpty())
        return State::unknown;
    for (const QVariant& display : displays) {
        if (display.typeId() != QMetaType::QVariantMap)
            return State::unknown;
    }

    QVariantMap entry;
    if (displays.size() == 1) {
        entry = displays.first().toMap();
    } else {
        if (!displayIdentifier)
            return State::unknown;
        int matches = 0;
        for (const QVariant& display : displays) {
            const QVariant identifier = display.toMap().value(QStringLiteral("Display Identifier"));
            if (identifier.typeId() == QMetaType::QString && identifier.toString() == *displayIdentifier) {
                entry = display.toMap();
                ++matches;
            }
        }
        if (matches != 1)
            return State::unknown;
    }

    const QVariant space = entry.value(QStringLiteral("Current Space"));
    if (space.typeId() != QMetaType::QVariantMap)
        return State::unknown;
    const QVariant type = space.toMap().value(QStringLiteral("type"));
    if (!isPlainNumber(type))
        return State::unknown;
    const double value = type.toDouble();
    if (value == 0)
        return State::desktop;
    if (value == 4)
        return State::fullScreen;
    return State::unknown;
}

std::optional<QString> uuidString(const QScreen* screen)
{
    if (!screen || screen->name().isEmpty())
        return std::nullopt;
    return screen->name();
}

State state(const std::optional<QString>& displayIdentifier)
{
    return parse(X11DisplaySpaces::current(), displayIdentifier);
}

} // namespace tolvex::FullScreen
