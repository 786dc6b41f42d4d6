#pragma once

#include <QIcon>
#include <QString>

namespace tolvex {

// An icon of the desktop's theme by its standard name. Current themes keep
// many actions only in their monochrome "-symbolic" form, which stands in
// when the full-colour one is missing.
inline QIcon themeIcon(const QString& name)
{
    const QIcon icon = QIcon::fromTheme(name);
    return icon.isNull() ? QIcon::fromTheme(name + QStringLiteral("-symbolic")) : icon;
}

} // namespace tolvex
