#include "Velmarin/Platform/ExtendedAttributes.h"

#include "TolvexCore/Files/LocalPathEncoding.h"

#include <sys/types.h>
#include <sys/xattr.h>

namespace tolvex::ExtendedAttributes {

namespace {

ssize_t attributeCall(const QByteArray& path, const char* name, void* buffer, size_t size, Links links)
{
    return links == Links::follow ? ::getxattr(path.constData(), name, buffer, size)
                                  : ::lgetxattr(path.constData(), name, buffer, size);
}

} // namespace

bool has(const QString& path, const char* name, Links links)
{
    if (path.isEmpty())
        return false;
    return attributeCall(encodeLocalPath(path), name, nullptr, 0, links) >= 0;
}

std::optional<QByteArray> read(const QString& path, const char* name, qsizetype maxBytes, Links links)
{
    if (path.isEmpty())
        return std::nullopt;
    const QByteArray encoded = encodeLocalPath(path);
    const ssize_t size = attributeCall(encoded, name, nullptr, 0, links);
    if (size <= 0 || size > maxBytes)
        return std::nullopt;
    QByteArray value(static_cast<qsizetype>(size), Qt::Uninitialized);
    const ssize_t read = attributeCall(encoded, name, value.data(), static_cast<size_t>(size), links);
    if (read != size)
        return std::nullopt;
    return value;
}

} // namespace tolvex::ExtendedAttributes
