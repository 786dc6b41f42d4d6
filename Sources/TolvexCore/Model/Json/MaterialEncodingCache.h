#pragma once

#include "TolvexCore/Model/MaterialRecord.h"

#include <QByteArray>
#include <QHash>
#include <QUuid>

#include <cstdint>
#include <utility>
#include <vector>

namespace tolvex::Json {

// The JSON of each material record as the last encoding of a snapshot wrote
// it. A save rewrites the whole workspace while a command changes a record
// or two, so the records that did not change are copied from here instead of
// being encoded again. A record is reused only when it is the same in every
// bit that its encoding depends on (texts by their code units, dates by
// their bits): two records the model calls equal, such as canonically
// equivalent titles, may still be written differently.
//
// The cache takes what an encoding made only when that encoding is
// committed, once its bytes were saved: an encoding whose save failed, or
// that ran for a snapshot that was never saved, leaves the cache as it was.
class MaterialEncodingCache {
public:
    // One encoding of a snapshot runs from begin() to end().
    void begin();
    // The bytes kept for a record, or null when there are none for it as it is now.
    const QByteArray* find(const MaterialRecord& record);
    // The bytes of a record that find() had none for; kept at commit().
    void keep(const MaterialRecord& record, QByteArray bytes);
    void end() { ended_ = true; }
    // After the last encoding ended: keeps what it made, and drops the
    // entries of records it neither found nor made.
    void commit();

    qsizetype size() const { return entries_.size(); }
    // The length of the last committed encoding, a hint for the buffer of the next.
    qsizetype encodedSize() const { return encodedSize_; }
    // The length of the current encoding, kept as the hint at commit().
    void setEncodedSize(qsizetype bytes) { pendingEncodedSize_ = bytes; }

private:
    struct Entry {
        MaterialRecord record;
        QByteArray bytes;
        std::uint64_t pass = 0;
    };
    QHash<QUuid, Entry> entries_;
    // What the current encoding made, for commit().
    std::vector<std::pair<MaterialRecord, QByteArray>> made_;
    std::uint64_t pass_ = 0;
    bool ended_ = false;
    qsizetype encodedSize_ = 0;
    qsizetype pendingEncodedSize_ = 0;
};

// Whether the two records encode to the same bytes, decided without encoding.
bool sameEncoding(const MaterialRecord& a, const MaterialRecord& b);

} // namespace tolvex::Json
