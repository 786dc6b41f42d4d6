#pragma once

#include <QByteArray>
#include <QException>
#include <QString>

namespace tolvex {

struct WorkspaceSnapshot;
struct MaterialRecord;
struct MaterialVersion;
struct SourceRecord;
class PageLocator;
struct MatterGroup;
struct CaptureFolderSetting;
struct StoreJournal;
struct EditSession;
struct NoteDraft;
struct ClipboardPreference;
struct CleanupFingerprint;
struct CleanupTarget;
struct CleanupReceipt;

// The one JSON encoder and decoder of every persisted record:
// - compact output, keys in the records' field order; readers take any order
//   and ignore unknown keys;
// - 64-bit integers exact, never through a double;
// - dates as double seconds since 2001-01-01T00:00:00Z;
// - UUIDs written upper-case, read in either case; byte data as standard Base64;
// - URLs as their absolute string, parsed strictly;
// - absent optionals left out, and a missing key or null read as absent;
// - enumerations with a payload as {"case":{"_0":payload}}.
// Decoding fails as a whole with DecodingError; no partial record is returned.
namespace Json {

class JsonDocument;
class MaterialEncodingCache;

class DecodingError : public QException {
public:
    enum class Kind { typeMismatch, valueNotFound, keyNotFound, dataCorrupted };

    DecodingError(Kind kind, QString codingPath, QString description);

    Kind kind() const noexcept { return kind_; }
    // Dotted path of the failing value, e.g. "materials.3.source.locator".
    const QString& codingPath() const noexcept { return codingPath_; }
    const QString& description() const noexcept { return description_; }
    const char* what() const noexcept override { return what_.constData(); }

    void raise() const override { throw *this; }
    DecodingError* clone() const override { return new DecodingError(*this); }

private:
    Kind kind_;
    QString codingPath_;
    QString description_;
    QByteArray what_;
};

QByteArray encode(const WorkspaceSnapshot& value);
// The same bytes, with the records the cache holds unchanged copied from it;
// the cache keeps the others once it is committed (after the bytes are saved).
QByteArray encode(const WorkspaceSnapshot& value, MaterialEncodingCache& cache);
QByteArray encode(const MaterialRecord& value);
QByteArray encode(const MaterialVersion& value);
QByteArray encode(const SourceRecord& value);
QByteArray encode(const PageLocator& value);
QByteArray encode(const MatterGroup& value);
QByteArray encode(const CaptureFolderSetting& value);
QByteArray encode(const StoreJournal& value);
QByteArray encode(const EditSession& value);
QByteArray encode(const NoteDraft& value);
QByteArray encode(const ClipboardPreference& value);
QByteArray encode(const CleanupFingerprint& value);
QByteArray encode(const CleanupTarget& value);
QByteArray encode(const CleanupReceipt& value);

// The bytes encode(receipt) gives, for a receipt that is written again and
// again with more outcomes and nothing else changed: what comes before the
// outcomes (the whole snapshot before the cleanup among it) is encoded once.
class CleanupReceiptEncoding {
public:
    explicit CleanupReceiptEncoding(const CleanupReceipt& receipt);
    // Only the outcomes of `receipt` are read; its other fields must be those
    // the encoding was made with.
    QByteArray encode(const CleanupReceipt& receipt) const;

private:
    QByteArray head_;
};

// Defined for each record type above.
template <typename T>
T decode(const QByteArray& bytes);
// A document parsed once for more than one look (the workspace snapshot).
template <typename T>
T decode(const JsonDocument& document);

} // namespace Json
} // namespace tolvex
