#include "TolvexCore/Files/ReadableNameLookup.h"

#include "TolvexCore/Files/LocalPathEncoding.h"
#include "TolvexCore/Model/AmbiguousNameError.h"

#include <QUrl>

#include <cerrno>
#include <system_error>

namespace tolvex::ReadableNameLookup {

QString exactPath(const FileOperations& files, const QString& readable)
{
    if (!readable.contains(QChar::ReplacementCharacter))
        return readable;
    if (!readable.startsWith(u'/'))
        throw std::system_error(EINVAL, std::generic_category(), "lookup " + readable.toStdString());

    QString exact;
    for (const QString& component : readable.mid(1).split(u'/')) {
        const QString folder = exact.isEmpty() ? QStringLiteral("/") : exact;
        QString found = component;
        if (component.contains(QChar::ReplacementCharacter)) {
            qsizetype matches = 0;
            for (const QString& name : files.listNames(QUrl::fromLocalFile(folder))) {
                if (readableLocalPath(name) == component) {
                    found = name;
                    ++matches;
                }
            }
            if (matches == 0)
                throw std::system_error(ENOENT, std::generic_category(), "lookup " + readable.toStdString());
            if (matches > 1)
                throw AmbiguousNameError(component, readableLocalPath(folder));
        }
        exact += u'/' + found;
    }
    return exact;
}

} // namespace tolvex::ReadableNameLookup
