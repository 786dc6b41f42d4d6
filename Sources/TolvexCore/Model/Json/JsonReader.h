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

// Where a value lies in the document being decoded: a chain of keys and
// element positions that becomes the dotted text ("materials.3.source") only
// when an error names it. Decoding a workspace visits hundreds of thousands
// of members and fails at most once. A path points to its parent: it must
// not outlive it.
class CodingPath {
public:
    CodingPath() = default;
    CodingPath(const CodingPath& parent, const char* key) : parent_(&parent), key_(key) {}
    CodingPath(const CodingPath& parent, std::uint32_t index) : parent_(&parent), index_(index) {}

    QString text() const;

private:
    const CodingPath* parent_ = nullptr;
    const char* key_ = nullptr;
    std::uint32_t index_ = 0;
};

// One JSON object being decoded, with the dotted path that names it in errors.
// Required members fail when missing (keyNotFound), null (valueNotFound) or of
// the wrong type (typeMismatch); optional members read a missing key and null
// alike as absent. Unknown keys are never looked at.
class ObjectReader {
public:
    ObjectReader(JsonValue value, const CodingPath& path);

    JsonValue object() const { return object_; }
    const CodingPath& path() const { return path_; }

    // The member's value, or a keyNotFound / valueNotFound error.
    JsonValue required(const char* key) const;
    // The member's value, or null when it is missing or null.
    std::optional<JsonValue> optional(const char* key) const;
    CodingPath memberPath(const char* key) const { return CodingPath(path_, key); }

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
        const CodingPath arrayPath = memberPath(key);
        if (!value.isArray())
            throw typeMismatch(arrayPath, "array");
        QList<T> result;
        result.reserve(static_cast<qsizetype>(value.size()));
        for (std::uint32_t i = 0; i < value.size(); ++i)
            result.append(element(value.element(i), CodingPath(arrayPath, i)));
        return result;
    }

    template <typename E>
    static E enumValue(JsonValue value, const CodingPath& path)
    {
        if (!value.isString())
            throw typeMismatch(path, "string");
        const std::string_view raw = value.string();
        if (auto parsed = enumFromRawValue<E>(raw))
            return *parsed;
        throw DecodingError(DecodingError::Kind::dataCorrupted, path.text(),
            QStringLiteral("Cannot initialize from invalid raw value %1")
                .arg(QString::fromUtf8(raw.data(), static_cast<qsizetype>(raw.size()))));
    }

    static DecodingError typeMismatch(const CodingPath& path, const char* expected);

    static QString stringValue(JsonValue value, const CodingPath& path);
    static bool booleanValue(JsonValue value, const CodingPath& path);
    static std::int64_t int64Value(JsonValue value, const CodingPath& path);
    static std::uint64_t uint64Value(JsonValue value, const CodingPath& path);
    static double numberValue(JsonValue value, const CodingPath& path);
    static QUuid uuidValue(JsonValue value, const CodingPath& path);
    static QUrl urlValue(JsonValue value, const CodingPath& path);
    static QByteArray dataValue(JsonValue value, const CodingPath& path);

private:
    JsonValue object_;
    CodingPath path_;
};


} // namespace tolvex::Json
