#pragma once

// The writing half of JsonCoding: each persisted record as JsonWriter calls,
// in the records' field order. Internal to the JSON coding.

#include "TolvexCore/Model/CleanupReceipt.h"
#include "TolvexCore/Model/JsonCoding.h"

namespace tolvex::Json {

class JsonWriter;

namespace detail {

void write(JsonWriter& out, const PageLocator& locator);
void write(JsonWriter& out, const SourceRecord& source);
void write(JsonWriter& out, const MaterialVersion& version);
void write(JsonWriter& out, const MaterialRecord& record);
void write(JsonWriter& out, const MatterGroup& group);
void write(JsonWriter& out, const CaptureFolderSetting& setting);
// With a cache, the records it holds unchanged are copied from it and the
// others are kept in it (see MaterialEncodingCache).
void write(JsonWriter& out, const WorkspaceSnapshot& snapshot, MaterialEncodingCache* cache = nullptr);
void write(JsonWriter& out, const StoreJournal& journal);
void write(JsonWriter& out, const EditSession& session);
void write(JsonWriter& out, const NoteDraft& draft);
void write(JsonWriter& out, const ClipboardPreference& preference);
void write(JsonWriter& out, const CleanupFingerprint& fingerprint);
void write(JsonWriter& out, const CleanupTarget& target);
void write(JsonWriter& out, const CleanupReceipt::Outcome& outcome);
void write(JsonWriter& out, const CleanupReceipt& receipt);

} // namespace detail
} // namespace tolvex::Json
