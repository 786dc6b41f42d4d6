#include "TolvexCore/Model/Json/MaterialEncodingCache.h"

#include <bit>
#include <cstdint>

namespace tolvex::Json {

namespace {

// QString's == compares code units, never canonical equivalence. Copies of
// one text share their code units: those are the same without reading them
// (most fields of a record the last save kept are such copies).
bool same(const QString& a, const QString& b)
{
    return a.size() == b.size() && (a.constData() == b.constData() || a == b);
}
bool same(const Date& a, const Date& b)
{
    return std::bit_cast<std::uint64_t>(a.secondsSinceReferenceDate) == std::bit_cast<std::uint64_t>(b.secondsSinceReferenceDate);
}
bool same(const QUrl& a, const QUrl& b)
{
    // Copies of one URL share their data; only others are compared as written.
    if (const_cast<QUrl&>(a).data_ptr() == const_cast<QUrl&>(b).data_ptr())
        return true;
    return a.toString(QUrl::FullyEncoded) == b.toString(QUrl::FullyEncoded);
}
bool same(const QByteArray& a, const QByteArray& b)
{
    return a.size() == b.size() && (a.constData() == b.constData() || a == b);
}

bool same(const PageLocator& a, const PageLocator& b)
{
    if (a.isPdfIndex() != b.isPdfIndex())
        return false;
    return a.isPdfIndex() ? a.index() == b.index() : same(a.label(), b.label());
}

template <typename T>
bool same(const std::optional<T>& a, const std::optional<T>& b)
{
    if (a.has_value() != b.has_value())
        return false;
    return !a || same(*a, *b);
}

bool same(const SourceRecord& a, const SourceRecord& b)
{
    return a.origin == b.origin && a.isManuallyRegistered == b.isManuallyRegistered && same(a.filePath, b.filePath)
        && same(a.fileBookmark, b.fileBookmark) && same(a.webURL, b.webURL) && same(a.manualTitle, b.manualTitle)
        && same(a.locator, b.locator);
}

bool same(const MaterialVersion& a, const MaterialVersion& b)
{
    return a.id == b.id && a.byteCount == b.byteCount && a.kind == b.kind && same(a.createdAt, b.createdAt)
        && same(a.relativePath, b.relativePath) && same(a.sha256, b.sha256);
}

} // namespace

bool sameEncoding(const MaterialRecord& a, const MaterialRecord& b)
{
    if (a.id != b.id || a.kind != b.kind || a.matterID != b.matterID || a.status != b.status || a.pinned != b.pinned
        || a.order != b.order || !same(a.createdAt, b.createdAt) || a.originalVersionID != b.originalVersionID
        || a.activeVersionID != b.activeVersionID || a.versions.size() != b.versions.size() || !same(a.title, b.title)
        || !same(a.source, b.source))
        return false;
    // Copies of one list of versions share their elements.
    if (a.versions.constData() == b.versions.constData())
        return true;
    for (qsizetype i = 0; i < a.versions.size(); ++i) {
        if (!same(a.versions[i], b.versions[i]))
            return false;
    }
    return true;
}

void MaterialEncodingCache::begin()
{
    ++pass_;
    made_.clear();
    ended_ = false;
}

const QByteArray* MaterialEncodingCache::find(const MaterialRecord& record)
{
    const auto entry = entries_.find(record.id);
    if (entry == entries_.end() || !sameEncoding(entry->record, record))
        return nullptr;
    // Only a mark: an encoding that is not committed changes no entry.
    entry->pass = pass_;
    return &entry->bytes;
}

void MaterialEncodingCache::keep(const MaterialRecord& record, QByteArray bytes)
{
    made_.emplace_back(record, std::move(bytes));
}

void MaterialEncodingCache::commit()
{
    if (!ended_)
        return;
    for (auto& [record, bytes] : made_)
        entries_.insert(record.id, Entry{std::move(record), std::move(bytes), pass_});
    made_.clear();
    entries_.removeIf([this](const auto& entry) { return entry.value().pass != pass_; });
    encodedSize_ = pendingEncodedSize_;
    ended_ = false;
}

} // namespace tolvex::Json
