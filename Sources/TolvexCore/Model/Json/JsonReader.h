#pragma once

#include "TolvexCore/Model/JsonCoding.h"
#include "TolvexCore/Model/RawEnum.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>
#include <QUuid>

#include "TolvexCore/Model/Json/JsonDocument.h"

#include <cstdint>
#include <optional>
#include <string>

namespace tolvex::Json {

// One JSON object being decoded, with the dotted path that names it in errors.
// Required members fail when missing (keyNotFound), null (valueNotFound) or of
// the wrong type (typeMismatch); optional members read a missing key and null
// alike as absent. Unknown keys are never looked at.
class ObjectReader {
public:
    ObjectReader(JsonValue value, QString path);

    JsonValue object() const { return object_; }
    const QString& path() const { return path_; }

    // The member's value, or a keyNotFound / valueNotFound error.
    JsonValue required(const char* key) const;
    // The member's value, or null when it is missing or null.
    std::optional<JsonValue> optional(const char* key) const;
    QString memberPath(const char* key) const;

    QString string(const char* key) const;
    bool boolean(const char* key) const;
    std::int64_t int64(const char* key) const;
    std::uint64_t uint64(const char* key) const;
    double number(const char* key) const;
    QUuid uuid(const char* key) const;
    QUrl url(const char* key) const;
    QByteArray data(const char* key) const;
    ObjectReader nested(const char* key) const;

    std::optional<QString> optionalString(const char* key) const;
    std::optional<std::uint64_t> optionalUInt64(const char* key) const;
    std::optional<QUuid> optionalUuid(const char* key) const;
    std::optional<QUrl> optionalUrl(const char* key) const;
    std::optional<QByteArray> optionalData(const char* key) const;

    template <typename E>
    E enumeration(const char* key) const
    {
        return enumValue<E>(required(key), memberPath(key));
    }

    // Calls `element(value, path)` for every element of the array member, in order.
    template <typename T, typename F>
    QList<T> array(const char* key, F element) const
    {
        JsonValue value = required(key);
        const QString arrayPath = memberPath(key);
        if (!value.isArray())
            throw typeMismatch(arrayPath, "array");
        QList<T> result;
        result.reserve(static_cast<qsizetype>(value.size()));
        for (std::uint32_t i = 0; i < value.size(); ++i)
            result.append(element(value.element(i), arrayPath + u'.' + QString::number(i)));
        return result;
    }

    template <typename E>
    static E enumValue(JsonValue value, const QString& path)
    {
        if (!value.isString())
            throw typeMismatch(path, "string");
        const std::string& raw = value.string();
        if (auto parsed = enumFromRawValue<E>(raw))
            return *parsed;
        throw DecodingError(DecodingError::Kind::dataCorrupted, path,
            QStringLiteral("Cannot initialize from invalid raw value %1").arg(QString::fromStdString(raw)));
    }

    static DecodingError typeMismatch(const QString& path, const char* expected);

    static QString stringValue(JsonValue value, const QString& path);
    static bool booleanValue(JsonValue value, const QString& path);
    static std::int64_t int64Value(JsonValue value, const QString& path);
    static std::uint64_t uint64Value(JsonValue value, const QString& path);
    static double numberValue(JsonValue value, const QString& path);
    static QUuid uuidValue(JsonValue value, const QString& path);
    static QUrl urlValue(JsonValue value, const QString& path);
    static QByteArray dataValue(JsonValue value, const QString& path);

private:
    JsonValue object_;
    QString path_;
};


} // namespace tolvex::Json
