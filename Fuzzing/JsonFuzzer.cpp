// Feeds arbitrary bytes to the record decoder. The first byte picks the
// record; whatever decodes must encode again, and that encoding must decode
// to a record that encodes to the very same bytes: a decoder that accepts
// what the encoder cannot reproduce would change a workspace on its next save.
#include "TolvexCore/Model/CaptureFolderSetting.h"
#include "TolvexCore/Model/EditSession.h"
#include "TolvexCore/Model/JsonCoding.h"
#include "TolvexCore/Model/NoteDraft.h"
#include "TolvexCore/Model/StoreJournal.h"
#include "TolvexCore/Model/WorkspaceSnapshot.h"
#include "TolvexCore/Model/CleanupReceipt.h"
#include "TolvexCore/Model/ClipboardPreference.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace tolvex;

namespace {

template <typename Record>
void roundTrip(const QByteArray& bytes)
{
    Record first;
    try {
        first = Json::decode<Record>(bytes);
    } catch (const Json::DecodingError&) {
        return;
    }
    const QByteArray encoded = Json::encode(first);
    QByteArray again;
    try {
        again = Json::encode(Json::decode<Record>(encoded));
    } catch (const Json::DecodingError& error) {
        std::fprintf(stderr, "own encoding refused: %s\n%s\n", error.what(), encoded.constData());
        std::abort();
    }
    if (again != encoded) {
        std::fprintf(stderr, "encoding not stable:\n%s\n%s\n", encoded.constData(), again.constData());
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
    switch (data[0] % 6) {
    case 0: roundTrip<WorkspaceSnapshot>(bytes); break;
    case 1: roundTrip<StoreJournal>(bytes); break;
    case 2: roundTrip<EditSession>(bytes); break;
    case 3: roundTrip<NoteDraft>(bytes); break;
    case 4: roundTrip<CleanupReceipt>(bytes); break;
    default: roundTrip<ClipboardPreference>(bytes); break;
    }
    return 0;
}
