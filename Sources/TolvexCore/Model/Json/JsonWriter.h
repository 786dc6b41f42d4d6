#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <cstdint>

namespace tolvex::Json {

// Compact JSON written straight into a byte buffer, in the order the fields
// are given. Building a document tree first would double the work of every
// save, which rewrites the whole workspace.
class JsonWriter {
public:
    JsonWriter() { buffer_.reserve(256); }

    void beginObject();
    void endObject();
    void beginArray();
    void endArray();
    // The key of the next member of the current object.
    void key(const char* name);

    void string(const QString& text);
    void string(const char* text);
    void number(std::int64_t value);
    void number(std::uint64_t value);
    // Shortest text that reads back as exactly the same double.
    void number(double value);
    void boolean(bool value);
    void uuid(const QUuid& id);
    void url(const QUrl& url);
    void data(const QByteArray& bytes);
    // A whole value another writer made (an object, an array, a scalar).
    void encoded(const QByteArray& value);

    QByteArray take() { return std::move(buffer_); }
    // Room for this many bytes in all, for a caller that knows about how many it writes.
    void reserve(qsizetype bytes) { buffer_.reserve(bytes); }

private:
    void separate();
    void appendEscaped(const char* utf8, qsizetype size);

    QByteArray buffer_;
    // Whether the next value at the current depth needs a comma before it.
    bool needsComma_ = false;
    bool afterKey_ = false;
};

} // namespace tolvex::Json
