#include "TolvexCore/Model/ClipboardPreference.h"
#include "TolvexCore/Model/EditSession.h"
#include "TolvexCore/Model/Json/MaterialEncodingCache.h"
#include "TolvexCore/Model/JsonCoding.h"
#include "TolvexCore/Model/NoteDraft.h"
#include "TolvexCore/Model/StoreJournal.h"
#include "TolvexCore/Model/UuidText.h"
#include "TolvexCore/Model/WorkspaceSnapshot.h"
#include "TolvexCore/Model/CleanupReceipt.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <optional>

using namespace tolvex;
using Json::DecodingError;

namespace {

QUuid uuid(const char* text)
{
    return *parseUuid(QString::fromLatin1(text));
}

MaterialRecord fullRecord()
{
    MaterialRecord record;
    record.id = uuid("11111111-2222-3333-4444-555555555555");
    record.kind = MaterialKind::pdf;
    record.matterID = MatterGroup::ungroupedID();
    record.status = MaterialStatus::needsReview;
    record.pinned = true;
    record.order = std::numeric_limits<std::int64_t>::max();
    record.title = QStringLiteral("Quarterly \"report\" \\ \u00e9t\u00e9 \U0001F4C4\n\ttab\x01");
    record.createdAt = Date{786543210.123456789};
    record.source.origin = ImportOrigin::fileSelection;
    record.source.filePath = QStringLiteral("/home/user/Docs/report 2026.pdf");
    record.source.fileBookmark = QByteArray("\x00\x01\xfe\xff bookmark", 14);
    record.source.webURL = QUrl(QStringLiteral("https://example.com/a%20b?q=1#frag"));
    record.source.manualTitle = QStringLiteral("Annual");
    record.source.locator = PageLocator::printedPage(QStringLiteral("xii"));
    record.source.isManuallyRegistered = true;
    const QUuid first = uuid("AAAAAAAA-0000-0000-0000-000000000001");
    const QUuid second = uuid("AAAAAAAA-0000-0000-0000-000000000002");
    record.versions = {
        MaterialVersion{first, QStringLiteral("Materials/11111111-2222-3333-4444-555555555555/AAAAAAAA-0000-0000-0000-000000000001.pdf"),
            QString(64, u'a'), 9007199254740993, VersionKind::original, Date{-0.5}},
        MaterialVersion{second, QStringLiteral("Materials/11111111-2222-3333-4444-555555555555/AAAAAAAA-0000-0000-0000-000000000002.pdf"),
            QString(64, u'b'), 0, VersionKind::markup, Date{1e-7}},
    };
    record.originalVersionID = first;
    record.activeVersionID = second;
    return record;
}

WorkspaceSnapshot fullSnapshot()
{
    WorkspaceSnapshot snapshot;
    snapshot.generation = 42;
    snapshot.materials = {fullRecord()};
    snapshot.matters.append(MatterGroup{uuid("BBBBBBBB-0000-0000-0000-000000000001"), QStringLiteral("Work"), -3});
    snapshot.selectedMatterID = snapshot.matters.last().id;
    snapshot.privacyHidden = true;
    snapshot.captureFolder = CaptureFolderSetting{QByteArray("bm"), QStringLiteral("/home/user/Pictures"), true};
    return snapshot;
}

template <typename T>
DecodingError decodeFailure(const QByteArray& bytes)
{
    try {
        Json::decode<T>(bytes);
    } catch (const DecodingError& error) {
        return error;
    }
    ADD_FAILURE() << "decoded without an error: " << bytes.constData();
    return DecodingError(DecodingError::Kind::dataCorrupted, {}, {});
}

// A valid minimal snapshot document with one key replaced or removed.
QByteArray snapshotWith(const char* replaced)
{
    QByteArray base = R"({"schemaVersion":1,"generation":0,"materials":[],"matters":[{"id":"00000000-0000-0000-0000-000000000001","name":"x","order":0}],"selectedMatterID":"00000000-0000-0000-0000-000000000001","privacyHidden":false})";
    return base.replace(R"("privacyHidden":false)", replaced);
}

} // namespace

TEST(JsonCodingSnapshotTest, EmptyWorkspaceEncodesToTheExactGolden)
{
    EXPECT_EQ(Json::encode(WorkspaceSnapshot()),
        QByteArray(R"({"schemaVersion":1,"generation":0,"materials":[],"matters":[{"id":"00000000-0000-0000-0000-000000000001","name":"未分组","order":0}],"selectedMatterID":"00000000-0000-0000-0000-000000000001","privacyHidden":false})"));
}

TEST(JsonCodingSnapshotTest, EveryFieldSurvivesARoundTripByteForByte)
{
    const WorkspaceSnapshot snapshot = fullSnapshot();
    const QByteArray bytes = Json::encode(snapshot);
    const WorkspaceSnapshot decoded = Json::decode<WorkspaceSnapshot>(bytes);
    EXPECT_EQ(decoded, snapshot);
    EXPECT_EQ(Json::encode(decoded), bytes);
    // Exact values, not just equal encodings.
    EXPECT_EQ(decoded.materials[0].order, std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(decoded.materials[0].versions[0].byteCount, 9007199254740993); // not representable as a double
    EXPECT_EQ(decoded.materials[0].createdAt.secondsSinceReferenceDate, 786543210.123456789);
    EXPECT_EQ(decoded.materials[0].title, fullRecord().title);
    EXPECT_EQ(*decoded.materials[0].source.fileBookmark, QByteArray("\x00\x01\xfe\xff bookmark", 14));
}

// Each change must reach the bytes although the other records come from
// the encodings kept by earlier saves, including changes that the model's
// equality does not see (canonically equivalent titles, a negative zero date).
TEST(JsonCodingSnapshotTest, KeptRecordEncodingsGiveTheBytesOfAFreshEncoding)
{
    WorkspaceSnapshot snapshot = fullSnapshot();
    MaterialRecord second = fullRecord();
    second.id = uuid("22222222-2222-3333-4444-555555555555");
    second.source = SourceRecord{ImportOrigin::note, {}, {}, {}, {}, PageLocator::pdfIndex(4), false};
    snapshot.materials.append(second);

    const std::pair<const char*, std::function<void(WorkspaceSnapshot&)>> changes[] = {
        {"nothing", [](WorkspaceSnapshot&) {}},
        {"a title", [](WorkspaceSnapshot& s) { s.materials[1].title += u'!'; }},
        {"a composed title decomposed", [](WorkspaceSnapshot& s) { s.materials[0].title = QStringLiteral("\u00e9"); }},
        {"", [](WorkspaceSnapshot& s) { s.materials[0].title = QStringLiteral("e\u0301"); }},
        {"a date to negative zero", [](WorkspaceSnapshot& s) { s.materials[1].createdAt = Date{-0.0}; }},
        {"", [](WorkspaceSnapshot& s) { s.materials[1].createdAt = Date{0.0}; }},
        {"a status", [](WorkspaceSnapshot& s) { s.materials[0].status = MaterialStatus::takenDown; }},
        {"a page", [](WorkspaceSnapshot& s) { s.materials[1].source.locator = PageLocator::pdfIndex(5); }},
        {"a page kind", [](WorkspaceSnapshot& s) { s.materials[1].source.locator = PageLocator::printedPage("5"); }},
        {"a web address", [](WorkspaceSnapshot& s) { s.materials[1].source.webURL = QUrl("https://example.com/a%20b"); }},
        {"", [](WorkspaceSnapshot& s) { s.materials[1].source.webURL = QUrl("https://example.com/a b"); }},
        {"a bookmark", [](WorkspaceSnapshot& s) { s.materials[0].source.fileBookmark->append('x'); }},
        {"a version", [](WorkspaceSnapshot& s) { s.materials[0].versions.append(s.materials[0].versions[0]); }},
        {"a version's digest", [](WorkspaceSnapshot& s) { s.materials[0].versions[2].sha256[0] = u'c'; }},
        {"the order of materials", [](WorkspaceSnapshot& s) { s.materials.swapItemsAt(0, 1); }},
        {"a material removed", [](WorkspaceSnapshot& s) { s.materials.removeFirst(); }},
        {"a material back", [second](WorkspaceSnapshot& s) { s.materials.append(second); }},
        {"no materials", [](WorkspaceSnapshot& s) { s.materials.clear(); }},
    };
    Json::MaterialEncodingCache cache;
    for (const auto& [name, change] : changes) {
        SCOPED_TRACE(name);
        // An encoding that is never committed (its save failed) changes nothing kept.
        const qsizetype kept = cache.size();
        WorkspaceSnapshot unsaved = snapshot;
        unsaved.materials.append(second);
        unsaved.materials.last().id = QUuid::createUuid();
        unsaved.materials.first().title += u'?';
        Json::encode(unsaved, cache);
        EXPECT_EQ(cache.size(), kept);

        change(snapshot);
        EXPECT_EQ(Json::encode(snapshot, cache), Json::encode(snapshot));
        cache.commit();
        EXPECT_EQ(cache.size(), snapshot.materials.size()) << "entries of records gone are dropped";
    }
}

TEST(JsonCodingSnapshotTest, LargestGenerationAndExtremeDatesSurvive)
{
    WorkspaceSnapshot snapshot;
    snapshot.generation = std::numeric_limits<std::uint64_t>::max();
    EXPECT_TRUE(Json::encode(snapshot).contains("\"generation\":18446744073709551615"));
    EXPECT_EQ(Json::decode<WorkspaceSnapshot>(Json::encode(snapshot)).generation, std::numeric_limits<std::uint64_t>::max());

    for (double seconds : {0.0, 0.1, -63114076800.0, 1e-300, 123456789.98765433, Date::now().secondsSinceReferenceDate}) {
        MaterialVersion version = fullRecord().versions[0];
        version.createdAt = Date{seconds};
        EXPECT_EQ(Json::decode<MaterialVersion>(Json::encode(version)).createdAt.secondsSinceReferenceDate, seconds);
    }
}

TEST(JsonCodingSnapshotTest, OptionalCaptureFolderIsLeftOutAndNullReadsAsAbsent)
{
    EXPECT_FALSE(Json::encode(WorkspaceSnapshot()).contains("captureFolder"));
    EXPECT_FALSE(Json::decode<WorkspaceSnapshot>(snapshotWith(R"("privacyHidden":false,"captureFolder":null)")).captureFolder);
    // Unknown keys are ignored wherever they appear.
    EXPECT_NO_THROW(Json::decode<WorkspaceSnapshot>(snapshotWith(R"("privacyHidden":false,"future":{"a":[1,2]})")));
}

TEST(JsonCodingSnapshotTest, RequiredKeysHaveNoFallback)
{
    EXPECT_EQ(decodeFailure<WorkspaceSnapshot>(snapshotWith(R"("other":false)")).kind(), DecodingError::Kind::keyNotFound);
    EXPECT_EQ(decodeFailure<WorkspaceSnapshot>(snapshotWith(R"("privacyHidden":null)")).kind(), DecodingError::Kind::valueNotFound);
    EXPECT_EQ(decodeFailure<WorkspaceSnapshot>(snapshotWith(R"("privacyHidden":0)")).kind(), DecodingError::Kind::typeMismatch);
    EXPECT_EQ(decodeFailure<WorkspaceSnapshot>(snapshotWith(R"("privacyHidden":"false")")).kind(), DecodingError::Kind::typeMismatch);
}

TEST(JsonCodingSnapshotTest, MalformedDocumentsFailAsAWhole)
{
    EXPECT_EQ(decodeFailure<WorkspaceSnapshot>("").kind(), DecodingError::Kind::dataCorrupted);
    EXPECT_EQ(decodeFailure<WorkspaceSnapshot>(R"({"schemaVersion":1,)").kind(), DecodingError::Kind::dataCorrupted);
    EXPECT_EQ(decodeFailure<WorkspaceSnapshot>("[]").kind(), DecodingError::Kind::typeMismatch);
    EXPECT_EQ(decodeFailure<WorkspaceSnapshot>("\"text\"").kind(), DecodingError::Kind::typeMismatch);
    // Invalid UTF-8 inside a string is not JSON.
    EXPECT_EQ(decodeFailure<WorkspaceSnapshot>(snapshotWith("\"privacyHidden\":false,\"x\":\"\xff\"")).kind(),
        DecodingError::Kind::dataCorrupted);

    // One bad status deep inside a record fails the whole snapshot, naming where.
    QByteArray bytes = Json::encode(fullSnapshot());
    bytes.replace("\"needsReview\"", "\"lost\"");
    const DecodingError error = decodeFailure<WorkspaceSnapshot>(bytes);
    EXPECT_EQ(error.kind(), DecodingError::Kind::dataCorrupted);
    EXPECT_EQ(error.codingPath(), QStringLiteral("materials.0.status"));
}

TEST(JsonCodingValueTest, IntegersAreExactAndNeverRounded)
{
    const auto groupWithOrder = [](const char* order) {
        return QByteArray(R"({"id":"00000000-0000-0000-0000-000000000001","name":"x","order":)") + order + "}";
    };
    EXPECT_EQ(Json::decode<MatterGroup>(groupWithOrder("-9223372036854775808")).order, std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(Json::decode<MatterGroup>(groupWithOrder("9223372036854775807")).order, std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(Json::decode<MatterGroup>(groupWithOrder("3.0")).order, 3);
    EXPECT_EQ(Json::decode<MatterGroup>(groupWithOrder("2e3")).order, 2000);
    EXPECT_THROW(Json::decode<MatterGroup>(groupWithOrder("9223372036854775808")), DecodingError);
    EXPECT_THROW(Json::decode<MatterGroup>(groupWithOrder("1.5")), DecodingError);
    EXPECT_THROW(Json::decode<MatterGroup>(groupWithOrder("1e300")), DecodingError);
    EXPECT_THROW(Json::decode<MatterGroup>(groupWithOrder("\"1\"")), DecodingError);
    EXPECT_THROW(Json::decode<MatterGroup>(groupWithOrder("true")), DecodingError);

    WorkspaceSnapshot snapshot;
    QByteArray negative = Json::encode(snapshot).replace("\"generation\":0", "\"generation\":-1");
    EXPECT_THROW(Json::decode<WorkspaceSnapshot>(negative), DecodingError);
    QByteArray tooLarge = Json::encode(snapshot).replace("\"generation\":0", "\"generation\":18446744073709551616");
    EXPECT_THROW(Json::decode<WorkspaceSnapshot>(tooLarge), DecodingError);
}

// A whole number written with a fraction or an exponent is read from its text:
// going through a double would round everything beyond 2^53.
TEST(JsonCodingValueTest, IntegersWithAFractionOrExponentAreReadFromTheirText)
{
    constexpr auto int64Max = std::numeric_limits<std::int64_t>::max();
    constexpr auto int64Min = std::numeric_limits<std::int64_t>::min();
    const struct {
        const char* text;
        std::optional<std::int64_t> order; // absent: the document fails
    } cases[] = {
        {"9007199254740993.0", 9007199254740993},
        {"9007199254740993e0", 9007199254740993},
        {"90071992547409930E-1", 9007199254740993},
        {"9.007199254740993e15", 9007199254740993},
        {"9223372036854775807.000", int64Max},
        {"9.223372036854775807e18", int64Max},
        {"-9223372036854775808.0", int64Min},
        {"-0.0", 0},
        {"0e999999999999999999999", 0},
        {"100e-2", 1},
        {"9223372036854775807.5", std::nullopt},
        {"9223372036854775808.0", std::nullopt},
        {"-9223372036854775809e0", std::nullopt},
        {"9007199254740993.0000000000000000001", std::nullopt},
        {"1e19", std::nullopt},
        {"1e-400", std::nullopt},
        {"1e999999999999999999999", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const QByteArray bytes =
            QByteArray(R"({"id":"00000000-0000-0000-0000-000000000001","name":"x","order":)") + c.text + "}";
        if (c.order) {
            EXPECT_EQ(Json::decode<MatterGroup>(bytes).order, *c.order);
        } else {
            EXPECT_THROW(Json::decode<MatterGroup>(bytes), DecodingError);
        }
    }

    const struct {
        const char* text;
        std::optional<std::uint64_t> generation;
    } unsignedCases[] = {
        {"18446744073709551615.0", std::numeric_limits<std::uint64_t>::max()},
        {"1.8446744073709551615e19", std::numeric_limits<std::uint64_t>::max()},
        {"18446744073709551616.0", std::nullopt},
        {"-1.0", std::nullopt},
    };
    for (const auto& c : unsignedCases) {
        SCOPED_TRACE(c.text);
        const QByteArray bytes = Json::encode(WorkspaceSnapshot()).replace("\"generation\":0", QByteArray("\"generation\":") + c.text);
        if (c.generation) {
            EXPECT_EQ(Json::decode<WorkspaceSnapshot>(bytes).generation, *c.generation);
        } else {
            EXPECT_THROW(Json::decode<WorkspaceSnapshot>(bytes), DecodingError);
        }
    }
}

TEST(JsonCodingValueTest, UuidsReadInEitherCaseAndWriteUpperCase)
{
    const auto group = Json::decode<MatterGroup>(R"({"id":"abcdef01-2345-6789-abcd-ef0123456789","name":"x","order":0})");
    EXPECT_EQ(uuidText(group.id), QStringLiteral("ABCDEF01-2345-6789-ABCD-EF0123456789"));
    EXPECT_TRUE(Json::encode(group).contains("\"ABCDEF01-2345-6789-ABCD-EF0123456789\""));
    EXPECT_TRUE(Json::decode<MatterGroup>(R"({"id":"00000000-0000-0000-0000-000000000000","name":"x","order":0})").id.isNull());
    EXPECT_EQ(Json::decode<MatterGroup>(R"({"id":"AbCdEf01-2345-6789-aBcD-eF0123456789","name":"x","order":0})").id, group.id);
    for (const char* bad : {"{abcdef01-2345-6789-abcd-ef0123456789}", "abcdef0123456789abcdef0123456789", "", "not-a-uuid",
             "abcdef0-12345-6789-abcd-ef0123456789", "abcdef01-2345-6789-abcd-ef012345678g", "abcdef01-2345-6789-abcd-ef01234567\u00e9",
             "abcdef01-2345-6789-abcd-ef01234567\xc3\xa9", "abcdef01+2345-6789-abcd-ef0123456789"}) {
        const QByteArray bytes = QByteArray(R"({"id":")") + bad + R"(","name":"x","order":0})";
        EXPECT_EQ(decodeFailure<MatterGroup>(bytes).kind(), DecodingError::Kind::dataCorrupted) << bad;
    }
}

TEST(JsonCodingValueTest, BytesAreStrictStandardBase64)
{
    CaptureFolderSetting setting{QByteArray("\xfb\xff\xbf?", 4), QStringLiteral("/p"), false};
    const QByteArray bytes = Json::encode(setting);
    EXPECT_TRUE(bytes.contains("\"+/+/Pw==\"")) << bytes.constData();
    EXPECT_EQ(Json::decode<CaptureFolderSetting>(bytes), setting);
    for (const char* bad : {"-_-_Pw==", "+/+/Pw", "+/+/P w==", "@@@@"}) {
        const QByteArray text = QByteArray(R"({"bookmark":")") + bad + R"(","lastKnownPath":"/p","enabled":false})";
        EXPECT_THROW(Json::decode<CaptureFolderSetting>(text), DecodingError) << bad;
    }
}

TEST(JsonCodingValueTest, UrlsAreAbsoluteStringsParsedStrictly)
{
    EditSession session{uuid("00000000-0000-0000-0000-00000000000A"), uuid("00000000-0000-0000-0000-00000000000B"),
        uuid("00000000-0000-0000-0000-00000000000C"),
        QUrl::fromLocalFile(QStringLiteral("/data root/Drafts/00000000-0000-0000-0000-00000000000A/working.txt")),
        VersionKind::textEdit};
    const QByteArray bytes = Json::encode(session);
    EXPECT_TRUE(bytes.contains(
        R"("workingURL":"file:///data%20root/Drafts/00000000-0000-0000-0000-00000000000A/working.txt")"))
        << bytes.constData();
    const EditSession decoded = Json::decode<EditSession>(bytes);
    EXPECT_EQ(decoded, session);
    EXPECT_EQ(decoded.workingURL.toLocalFile(), session.workingURL.toLocalFile());

    for (const char* bad : {"", "http://exa mple.com/", "file:///a b"}) {
        QByteArray text = bytes;
        text.replace(QByteArray("file:///data%20root/Drafts/00000000-0000-0000-0000-00000000000A/working.txt"), bad);
        EXPECT_THROW(Json::decode<EditSession>(text), DecodingError) << bad;
    }
}

TEST(JsonCodingValueTest, StringsAcceptEveryJsonEscapeAndWriteControlCharactersEscaped)
{
    const auto group = Json::decode<MatterGroup>(
        R"({"id":"00000000-0000-0000-0000-000000000001","name":"a\/b\u00e9\ud83d\ude00\n\"q\"","order":0})");
    EXPECT_EQ(group.name, QStringLiteral("a/b\u00e9\U0001F600\n\"q\""));
    const QByteArray written = Json::encode(MatterGroup{group.id, QStringLiteral("x\x1f\x7f/"), 0});
    EXPECT_TRUE(written.contains(R"("name":"x\u001f)" "\x7f" R"(/")")) << written.constData();
}

TEST(JsonCodingSourceTest, MinimalSourceHasExactlyTheTwoRequiredKeys)
{
    SourceRecord source;
    source.origin = ImportOrigin::drop;
    EXPECT_EQ(Json::encode(source), QByteArray(R"({"origin":"drop","isManuallyRegistered":false})"));
    EXPECT_THROW(Json::decode<SourceRecord>(R"({"origin":"drop"})"), DecodingError);
    EXPECT_THROW(Json::decode<SourceRecord>(R"({"origin":"camera","isManuallyRegistered":false})"), DecodingError);
    const SourceRecord withNulls = Json::decode<SourceRecord>(
        R"({"origin":"note","filePath":null,"fileBookmark":null,"webURL":null,"manualTitle":null,"locator":null,"isManuallyRegistered":true})");
    EXPECT_EQ(withNulls, (SourceRecord{ImportOrigin::note, {}, {}, {}, {}, {}, true}));
}

TEST(JsonCodingSourceTest, PageLocatorUsesTheSingleCaseKeyForm)
{
    EXPECT_EQ(Json::decode<PageLocator>(R"({"pdfIndex":{"_0":0}})"), PageLocator::pdfIndex(0));
    EXPECT_EQ(Json::encode(PageLocator::pdfIndex(3)), QByteArray(R"({"pdfIndex":{"_0":3}})"));
    EXPECT_EQ(Json::encode(PageLocator::printedPage(QStringLiteral("xii"))), QByteArray(R"({"printedPage":{"_0":"xii"}})"));
    EXPECT_EQ(Json::decode<PageLocator>(Json::encode(PageLocator::printedPage(QStringLiteral("iv")))),
        PageLocator::printedPage(QStringLiteral("iv")));
    // A key that names no case is ignored.
    EXPECT_EQ(Json::decode<PageLocator>(R"({"pdfIndex":{"_0":7},"chapter":{"_0":1}})"), PageLocator::pdfIndex(7));

    for (const char* bad : {"{}", R"({"pdfIndex":{"_0":1},"printedPage":{"_0":"x"}})", R"({"chapter":{"_0":1}})"}) {
        const DecodingError error = decodeFailure<PageLocator>(bad);
        EXPECT_EQ(error.kind(), DecodingError::Kind::typeMismatch) << bad;
        EXPECT_EQ(error.description(), QStringLiteral("Invalid number of keys found, expected one.")) << bad;
    }
    EXPECT_THROW(Json::decode<PageLocator>(R"({"pdfIndex":{}})"), DecodingError);
    EXPECT_THROW(Json::decode<PageLocator>(R"({"printedPage":{"_0":4}})"), DecodingError);
}

TEST(JsonCodingJournalTest, ImportJournalHasNoBaseKeyAndPhasesAreStrict)
{
    StoreJournal journal{uuid("cccccccc-0000-0000-0000-000000000001"), StoreJournal::Phase::contentReady, fullRecord(), std::nullopt};
    const QByteArray bytes = Json::encode(journal);
    EXPECT_TRUE(bytes.startsWith(R"({"id":"CCCCCCCC-0000-0000-0000-000000000001","phase":"contentReady","record":{)"));
    EXPECT_FALSE(bytes.contains("baseVersionID"));
    EXPECT_EQ(journal.relativePath(), QStringLiteral("Transactions/CCCCCCCC-0000-0000-0000-000000000001.json"));

    QByteArray withNull = bytes;
    withNull.chop(1);
    withNull += R"(,"baseVersionID":null})";
    const StoreJournal decoded = Json::decode<StoreJournal>(withNull);
    EXPECT_FALSE(decoded.baseVersionID);
    EXPECT_EQ(decoded.record, journal.record);

    journal.phase = StoreJournal::Phase::contentCommitted;
    journal.baseVersionID = journal.record.originalVersionID;
    EXPECT_EQ(Json::decode<StoreJournal>(Json::encode(journal)).baseVersionID, journal.baseVersionID);
    QByteArray badPhase = Json::encode(journal).replace("contentCommitted", "committed");
    EXPECT_THROW(Json::decode<StoreJournal>(badPhase), DecodingError);
}

TEST(JsonCodingDraftTest, DraftOmitsAbsentCountersAndKeepsExactRevisions)
{
    NoteDraft draft;
    draft.id = uuid("dddddddd-0000-0000-0000-000000000001");
    draft.materialID = uuid("dddddddd-0000-0000-0000-000000000002");
    draft.matterID = MatterGroup::ungroupedID();
    draft.text = QStringLiteral("hello");
    draft.updatedAt = Date{12.5};
    EXPECT_EQ(Json::encode(draft),
        QByteArray(R"({"id":"DDDDDDDD-0000-0000-0000-000000000001","materialID":"DDDDDDDD-0000-0000-0000-000000000002","matterID":"00000000-0000-0000-0000-000000000001","text":"hello","revision":0,"updatedAt":12.5})"));

    draft.revision = 18446744073709551614u;
    draft.publishedRevision = 18446744073709551614u;
    draft.baseVersionID = draft.materialID;
    EXPECT_EQ(Json::decode<NoteDraft>(Json::encode(draft)), draft);

    const NoteDraft nulls = Json::decode<NoteDraft>(
        R"({"id":"DDDDDDDD-0000-0000-0000-000000000001","materialID":"DDDDDDDD-0000-0000-0000-000000000002","matterID":"00000000-0000-0000-0000-000000000001","baseVersionID":null,"text":"","revision":1,"publishedRevision":null,"updatedAt":0})");
    EXPECT_FALSE(nulls.baseVersionID);
    EXPECT_FALSE(nulls.publishedRevision);
    EXPECT_THROW(Json::decode<NoteDraft>(QByteArray(R"({"id":"DDDDDDDD-0000-0000-0000-000000000001","materialID":"DDDDDDDD-0000-0000-0000-000000000002","matterID":"00000000-0000-0000-0000-000000000001","text":"","revision":-1,"updatedAt":0})")),
        DecodingError);
}

TEST(JsonCodingPreferenceTest, VersionsOneAndTwoDecodeAndOnlyTwoIsWritten)
{
    const ClipboardPreference written(true, false, true, false, true);
    EXPECT_EQ(Json::encode(written),
        QByteArray(R"({"version":2,"enabled":true,"images":false,"text":true,"files":false,"includeExisting":true})"));
    EXPECT_EQ(Json::decode<ClipboardPreference>(Json::encode(written)), written);

    EXPECT_EQ(Json::decode<ClipboardPreference>(R"({"version":1,"enabled":true})"), ClipboardPreference(true, true, true, true, true));
    const ClipboardPreference upgraded = Json::decode<ClipboardPreference>(R"({"images":false,"enabled":false,"version":1})");
    EXPECT_EQ(upgraded, ClipboardPreference(false, true, true, true, true));
    EXPECT_EQ(upgraded.version, 2);

    EXPECT_EQ(decodeFailure<ClipboardPreference>(R"({"version":2,"enabled":true,"images":true,"text":true,"files":true})").kind(),
        DecodingError::Kind::keyNotFound);
    const DecodingError unsupported = decodeFailure<ClipboardPreference>(R"({"version":3,"enabled":true})");
    EXPECT_EQ(unsupported.kind(), DecodingError::Kind::dataCorrupted);
    EXPECT_EQ(unsupported.description(), QStringLiteral("Unsupported preference version"));
    EXPECT_THROW(Json::decode<ClipboardPreference>(R"({"enabled":true})"), DecodingError);
}

TEST(JsonCodingReceiptTest, AbsentOptionalsCarryNoKeysAndKindsAreStrict)
{
    CleanupReceipt receipt;
    receipt.id = uuid("eeeeeeee-0000-0000-0000-000000000001");
    receipt.createdAt = Date{100};
    CleanupTarget target{CleanupTarget::Kind::temporaryExport, std::nullopt, QStringLiteral("a.png"),
        QStringLiteral("Exports/a.png"), 3, 1, {CleanupFingerprint{QString(), false, 3, Date{5}, QString(64, u'c')}}};
    CleanupTarget folder{CleanupTarget::Kind::material, fullRecord().id, QStringLiteral("t"), QStringLiteral("Materials/X"), 0, 0,
        {CleanupFingerprint{QString(), true, 0, Date{6}, std::nullopt}}};
    receipt.targets = {target, folder};
    receipt.outcomes = {CleanupReceipt::Outcome{QStringLiteral("/root/Exports/a.png"), std::nullopt, false, std::nullopt}};
    const QByteArray bytes = Json::encode(receipt);
    EXPECT_TRUE(bytes.contains(R"("authorization":"Confirmed storage-cleanup preview in Settings; move copies to system Trash")"));
    EXPECT_TRUE(bytes.contains(R"({"kind":"temporaryExport","title":"a.png")")) << bytes.constData();
    EXPECT_TRUE(bytes.contains(R"({"path":"","directory":true,"bytes":0,"modifiedAt":6})")) << bytes.constData();
    EXPECT_TRUE(bytes.contains(R"("outcomes":[{"originalPath":"/root/Exports/a.png","verified":false}])")) << bytes.constData();

    const CleanupReceipt decoded = Json::decode<CleanupReceipt>(bytes);
    EXPECT_EQ(decoded.targets, receipt.targets);
    EXPECT_EQ(decoded.snapshotBefore, receipt.snapshotBefore);
    ASSERT_EQ(decoded.outcomes.size(), 1);
    EXPECT_FALSE(decoded.outcomes[0].trashURL);

    QByteArray badKind = Json::encode(target).replace("temporaryExport", "export");
    EXPECT_THROW(Json::decode<CleanupTarget>(badKind), DecodingError);
}

TEST(JsonCodingReceiptTest, ARewrittenReceiptHasTheBytesOfAFreshEncoding)
{
    CleanupReceipt receipt;
    receipt.id = uuid("eeeeeeee-0000-0000-0000-000000000002");
    receipt.createdAt = Date{7.25};
    receipt.snapshotBefore = fullSnapshot();
    receipt.targets = {CleanupTarget{CleanupTarget::Kind::unownedStaging, std::nullopt, QStringLiteral("x.stage"),
        QStringLiteral("Transactions/x.stage"), 1, 1, {CleanupFingerprint{QString(), false, 1, Date{2}, QString(64, u'd')}}}};
    const Json::CleanupReceiptEncoding encoding(receipt);

    const CleanupReceipt::Outcome outcomes[] = {
        {QStringLiteral("/root/Transactions/x.stage"), std::nullopt, false, QStringLiteral("interrupted")},
        {QStringLiteral("/root/Materials/\u00e9 \"quoted\""), QUrl::fromLocalFile("/trash/files/x"), true, std::nullopt},
        {QStringLiteral("/root/Exports/a"), std::nullopt, false, QStringLiteral("EIO: Input/output error")},
    };
    for (int count = 0; count <= 3; ++count) {
        SCOPED_TRACE(count);
        receipt.outcomes = QList<CleanupReceipt::Outcome>(outcomes, outcomes + count);
        EXPECT_EQ(encoding.encode(receipt), Json::encode(receipt));
    }
}
