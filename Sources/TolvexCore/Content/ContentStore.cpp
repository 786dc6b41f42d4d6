#include "TolvexCore/Content/ContentStore.h"

#include "TolvexCore/Content/ContentDigest.h"
#include "TolvexCore/Files/LocalPathEncoding.h"
#include "TolvexCore/Images/ImageAdmission.h"
#include "TolvexCore/Images/ImageSource.h"
#include "TolvexCore/Images/UniformType.h"
#include "TolvexCore/Model/DataRoot.h"
#include "TolvexCore/Model/UnicodeText.h"
#include "TolvexCore/Model/UuidText.h"
#include "TolvexCore/Model/StoreError.h"

#include <openssl/evp.h>

#include <QTextBoundaryFinder>

#include <array>
#include <exception>
#include <future>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace tolvex {

namespace {

using DataRoot::lastPathComponent;

QString deletingPathExtension(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= 0 || dot == name.size() - 1)
        return name;
    return name.left(dot);
}

bool isAsciiLetterOrDigit(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
}

// At most 12 ASCII letters and digits of `extension`; "bin" when none is left.
QString safeExtension(const QString& extension)
{
    QString kept;
    for (const QChar c : extension) {
        if (kept.size() == 12)
            break;
        if (isAsciiLetterOrDigit(c))
            kept += c;
    }
    return kept.isEmpty() ? QStringLiteral("bin") : kept;
}


bool isRegularNonLink(const FileInfo& info)
{
    return info.isRegularFile && !info.isSymbolicLink;
}

// Control and format characters, "/", "\" and ":" each become "_".
QString replacingUnsafeFilenameCharacters(const QString& name)
{
    QString result;
    result.reserve(name.size());
    for (const char32_t c : name.toUcs4()) {
        const QChar::Category category = QChar::category(c);
        if (category == QChar::Other_Control || category == QChar::Other_Format || c == U'/' || c == U'\\'
            || c == U':')
            result += u'_';
        else
            result += QString::fromUcs4(&c, 1);
    }
    return result;
}

// Runs the tasks side by side, the first on the calling thread, and waits
// for all of them before the first failure among them (in the order given)
// is thrown: no task outlives the data it works on.
template <typename First, typename... Others>
void runSideBySide(First&& first, Others&&... others)
{
    std::vector<std::future<void>> running;
    (running.push_back(std::async(std::launch::async, std::forward<Others>(others))), ...);
    std::exception_ptr failure;
    try {
        first();
    } catch (...) {
        failure = std::current_exception();
    }
    for (std::future<void>& task : running) {
        try {
            task.get();
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
        }
    }
    if (failure)
        std::rethrow_exception(failure);
}

// Runs a bounded read or copy of a source: a source longer than its limit
// has grown since it was measured, which is a changed source.
template <typename Work>
void refusingGrowth(Work&& work)
{
    try {
        work();
    } catch (const std::system_error& error) {
        if (error.code() == std::errc::file_too_large)
            throw StoreError::sourceChanged();
        throw;
    }
}

constexpr qsizetype fileNameBytes = 255;

// The longest run of whole user-perceived characters from the start of
// `text` whose UTF-8 form has at most `limit` bytes.
QString prefixFittingBytes(const QString& text, qsizetype limit)
{
    if (text.toUtf8().size() <= limit)
        return text;
    QTextBoundaryFinder boundaries(QTextBoundaryFinder::Grapheme, text);
    qsizetype end = 0;
    qsizetype bytes = 0;
    for (qsizetype next = boundaries.toNextBoundary(); next > 0; next = boundaries.toNextBoundary()) {
        const qsizetype size = QStringView(text).mid(end, next - end).toUtf8().size();
        if (bytes + size > limit)
            break;
        bytes += size;
        end = next;
    }
    return text.left(end);
}

bool isUsableBaseName(const QString& name)
{
    return !name.isEmpty() && name != u"." && name != u"..";
}

} // namespace

ContentStore::ContentStore(const QUrl& root, FileOperationsRef files) : paths_(root), files_(std::move(files))
{
    if (!files_)
        throw std::invalid_argument("ContentStore needs a file layer");
}

QString ContentStore::clipboardImageTitle()
{
    return QStringLiteral("剪贴板图片");
}

StagedContent ContentStore::stage(
    const ImportRequest& request, const CancellationToken& cancellation, std::int64_t maximumFileBytes) const
{
    cancellation.check();
    const QUrl stagingURL = paths_.url(DataRoot::stagingPath(QUuid::createUuid()));

    StagedContent staged;
    if (const auto* text = request.asText())
        staged = stageText(*text, stagingURL);
    else if (const auto* image = request.asImageData())
        staged = stageImageData(*image, stagingURL);
    else
        staged = stageFile(*request.asFile(), stagingURL, maximumFileBytes);

    const FileInfo info = files_->inspect(stagingURL);
    if (!isRegularNonLink(info))
        throw StoreError::invalidPath();
    if (staged.sha256.isEmpty()) {
        // Written bytes (text, image data) have not been read back yet: the
        // recorded digest is that of the file as it now lies on disk.
        staged.sha256 = digestOf(stagingURL);
    } else if (info.byteCount != staged.byteCount) {
        // A staged file was already read back and verified; its size on disk
        // must still be the size of the bytes that digest was taken over.
        throw StoreError::sourceChanged();
    }
    staged.byteCount = info.byteCount;
    return staged;
}

StagedContent ContentStore::stageText(const ImportRequest::Text& text, const QUrl& stagingURL) const
{
    if (text.text.isEmpty())
        throw StoreError::invalidSource();
    files_->writeAtomic(text.text.toUtf8(), stagingURL);

    StagedContent staged;
    staged.stagingURL = stagingURL;
    staged.source = text.source;
    staged.kind = MaterialKind::text;
    staged.fileExtension = QStringLiteral("txt");
    staged.title = UnicodeText::graphemePrefix(text.text, 80);
    return staged;
}

StagedContent ContentStore::stageImageData(const ImportRequest::ImageData& image, const QUrl& stagingURL) const
{
    ImageAdmission::validate(image.bytes);

    QString extension;
    {
        const std::optional<ImageSource> source = ImageSource::create(image.bytes);
        if (!source || !source->hasImage(0))
            throw StoreError::invalidSource();
        const std::optional<QString> identifier = source->typeIdentifier();
        if (!identifier)
            throw StoreError::invalidSource();
        const std::optional<UniformType> type = UniformType::withIdentifier(*identifier);
        if (!type || type->preferredFilenameExtension.isEmpty())
            throw StoreError::invalidSource();
        extension = type->preferredFilenameExtension;
    }
    files_->writeAtomic(image.bytes, stagingURL);

    StagedContent staged;
    staged.stagingURL = stagingURL;
    staged.source = image.source;
    staged.kind = MaterialKind::image;
    staged.fileExtension = extension;
    staged.title = clipboardImageTitle();
    return staged;
}

StagedContent ContentStore::stageFile(
    const ImportRequest::File& file, const QUrl& stagingURL, std::int64_t maximumBytes) const
{
    // A URL of another scheme never reaches the file layer: its path would be
    // taken for a local one.
    const std::optional<QString> exactPath = file.url.isLocalFile() ? exactLocalPath(file.url) : std::nullopt;
    if (!exactPath)
        throw StoreError::invalidSource();
    const FileInfo before = files_->inspect(file.url);
    if (!isRegularNonLink(before))
        throw StoreError::invalidSource();
    // Grown past what its caller measured: nothing of it is read.
    if (before.byteCount < 0 || before.byteCount > maximumBytes)
        throw StoreError::sourceChanged();

    // From here on everything reads the one item that was opened: a name
    // swapped for a link, a folder or a FIFO after the check above can
    // neither be copied as such nor make the copy wait for a writer. Opening
    // does not follow a link (ELOOP) nor wait; a type that is no longer a
    // regular file is a changed source, and nothing has been written yet.
    const OpenFile source = openSource(file.url);
    const FileInfo opened = files_->inspect(source);
    if (!isRegularNonLink(opened) || opened.byteCount != before.byteCount
        || opened.modificationDate != before.modificationDate)
        throw StoreError::sourceChanged();

    // The first digest of the source and its copy read the same opened file
    // independently, so they run side by side; either one failing fails the
    // staging once both are over. Both read no further than the size seen
    // above and one byte past it: a file that keeps growing is refused as
    // changed as soon as it is longer, whatever it grows to.
    QString sourceDigest;
    OpenFile copied;
    runSideBySide([&] { sourceDigest = digestOf(source, before.byteCount); },
        [&] {
            refusingGrowth([&] {
                copied = files_->copy(source, stagingURL.adjusted(QUrl::RemoveFilename | QUrl::StripTrailingSlash),
                    stagingURL.fileName(), FileOperations::MissingFolders::fail, before.byteCount);
            });
        });

    const FileInfo after = files_->inspect(file.url);
    const FileInfo afterOpened = files_->inspect(source);
    if (!isRegularNonLink(after) || after.byteCount != before.byteCount
        || after.modificationDate != before.modificationDate || afterOpened != opened)
        throw StoreError::sourceChanged();

    // Then three independent things at once: the source hashed again, the
    // copy hashed (our own file, so mapped rather than read into a buffer;
    // the same mapping then serves the classification), and the copy's
    // contents flushed to the disk before anything may commit it.
    QString sourceDigestAgain;
    QString stagedDigest;
    MappedFile stagedBytes;
    runSideBySide([&] { sourceDigestAgain = digestOf(source, before.byteCount); },
        [&] {
            stagedBytes = files_->map(copied);
            stagedDigest = digest(stagedBytes.bytes());
        },
        [&] { files_->sync(copied); });
    if (sourceDigestAgain != sourceDigest || stagedDigest != sourceDigest)
        throw StoreError::sourceChanged();

    // Recorded as people read it: a JSON text cannot hold a byte that is not
    // UTF-8. The readable form is never used to reach the file again.
    const QString path = readableLocalPath(OwnedPaths::standardized(*exactPath));
    const QString name = lastPathComponent(path);

    StagedContent staged;
    staged.stagingURL = stagingURL;
    staged.source.origin = file.origin;
    staged.source.filePath = path;
    staged.source.isManuallyRegistered = false;
    staged.title = name;
    // The bytes that are classified and recorded are exactly the ones
    // verified against the source.
    const QByteArray view = stagedBytes.bytes();
    std::tie(staged.kind, staged.fileExtension) = classify(view, DataRoot::pathExtension(name).toString());
    staged.byteCount = view.size();
    staged.sha256 = sourceDigest;
    return staged;
}

OpenFile ContentStore::openSource(const QUrl& url) const
{
    try {
        return files_->open(url);
    } catch (const std::system_error& error) {
        // A link (ELOOP) or a socket (ENXIO) where a regular file was just seen.
        if (error.code() == std::errc::too_many_symbolic_link_levels || error.code() == std::errc::no_such_device_or_address)
            throw StoreError::sourceChanged();
        throw;
    }
}

QString ContentStore::digestOf(const OpenFile& file, std::int64_t maximumBytes, std::int64_t* byteCount) const
{
    ContentDigest digest;
    std::int64_t total = 0;
    refusingGrowth([&] {
        files_->read(
            file,
            [&](const char* data, std::size_t size) {
                digest.update(data, size);
                total += static_cast<std::int64_t>(size);
            },
            maximumBytes);
    });
    if (byteCount)
        *byteCount = total;
    return digest.finish();
}

QString ContentStore::digestOf(const QUrl& url) const
{
    return digestOf(files_->open(url), std::numeric_limits<std::int64_t>::max());
}

QString ContentStore::digestOfUnchanged(const QUrl& url, const FileInfo& before) const
{
    const OpenFile opened = openSource(url);
    if (!files_->inspect(opened).isRegularFile)
        throw StoreError::sourceChanged();
    std::int64_t hashedBytes = 0;
    const QString sha256 = digestOf(opened, before.byteCount, &hashedBytes);
    const FileInfo after = files_->inspect(url);
    if (!isRegularNonLink(after) || after.byteCount != before.byteCount
        || after.modificationDate != before.modificationDate || hashedBytes != before.byteCount)
        throw StoreError::sourceChanged();
    return sha256;
}

MaterialVersion ContentStore::commit(const StagedContent& staged, const QUuid& materialID, const QUuid& versionID) const
{
    const QString folder = DataRoot::materialFolder(materialID);
    const QString relativePath = DataRoot::versionPath(materialID, versionID, staged.fileExtension);

    const QString transactionsPath = OwnedPaths::standardized(paths_.url(DataRoot::transactionsFolder()).toLocalFile());
    if (!staged.stagingURL.isLocalFile())
        throw StoreError::invalidPath();
    const QString stagingPath = OwnedPaths::standardized(staged.stagingURL.toLocalFile());
    if (!stagingPath.startsWith(transactionsPath + u'/'))
        throw StoreError::invalidPath();

    // Compared against the anchor rather than against the plain path, so that
    // a data root below a linked folder can still commit, while a link at the
    // staging file or anywhere below the root is refused.
    const QString rootPath = paths_.root().toLocalFile();
    const QUrl stagingURL = paths_.url(stagingPath.mid(rootPath.size() + (rootPath.endsWith(u'/') ? 0 : 1)));

    if (digestOf(stagingURL) != staged.sha256)
        throw StoreError::invalidPath();

    files_->createDirectory(paths_.url(folder));
    files_->move(stagingURL, paths_.url(relativePath));

    MaterialVersion version;
    version.id = versionID;
    version.relativePath = relativePath;
    version.sha256 = staged.sha256;
    version.byteCount = staged.byteCount;
    version.kind = VersionKind::original;
    version.createdAt = Date::now();
    return version;
}

QString ContentStore::digest(const QByteArray& bytes)
{
    std::array<unsigned char, EVP_MAX_MD_SIZE> hash{};
    unsigned int length = 0;
    if (EVP_Digest(bytes.constData(), static_cast<std::size_t>(bytes.size()), hash.data(), &length, EVP_sha256(),
            nullptr)
        != 1)
        throw std::runtime_error("SHA-256 is not available");
    static constexpr char digits[] = "0123456789abcdef";
    QString text(static_cast<qsizetype>(length) * 2, Qt::Uninitialized);
    QChar* out = text.data();
    for (unsigned int i = 0; i < length; ++i) {
        *out++ = QLatin1Char(digits[hash[i] >> 4]);
        *out++ = QLatin1Char(digits[hash[i] & 0x0F]);
    }
    return text;
}

std::pair<MaterialKind, QString> ContentStore::classify(const QByteArray& bytes, const QString& extension)
{
    if (const std::optional<ImageSource> source = ImageSource::create(bytes)) {
        if (const std::optional<QString> identifier = source->typeIdentifier()) {
            const std::optional<UniformType> type = UniformType::withIdentifier(*identifier);
            if (type && type->conformsToImage && !type->preferredFilenameExtension.isEmpty()) {
                ImageAdmission::validate(bytes);
                if (!source->hasImage(0))
                    throw ImageAdmissionError::invalidImage();
                return {MaterialKind::image, type->preferredFilenameExtension};
            }
        }
    }

    // A file that claims to be an image but does not decode is refused.
    if (const std::optional<UniformType> claimed = UniformType::forFilenameExtension(extension);
        claimed && claimed->conformsToImage)
        throw ImageAdmissionError::invalidImage();

    if (bytes.startsWith("%PDF-"))
        return {MaterialKind::pdf, QStringLiteral("pdf")};

    static const QStringList textExtensions{QStringLiteral("txt"), QStringLiteral("md"), QStringLiteral("csv"),
        QStringLiteral("json"), QStringLiteral("log")};
    if (textExtensions.contains(extension.toLower()) && UnicodeText::isStrictUtf8(bytes))
        return {MaterialKind::text, extension};

    return {MaterialKind::file, safeExtension(extension.toLower())};
}

bool ContentStore::isStagingFilename(const QString& name)
{
    if (!DataRoot::isStagingName(name))
        return false;
    const std::optional<QUuid> id = parseUuid(QStringView(name).left(name.lastIndexOf(u'.')));
    return id && DataRoot::lastPathComponent(DataRoot::stagingPath(*id)) == name;
}

QString ContentStore::suggestedExportFilename(const MaterialRecord& record, const QString& fileExtension)
{
    const QString extension = safeExtension(fileExtension);

    QString base;
    if (record.source.filePath && !record.source.filePath->isEmpty()) {
        QString name = lastPathComponent(*record.source.filePath);
        if (isUsableBaseName(name))
            name = replacingUnsafeFilenameCharacters(deletingPathExtension(name));
        if (isUsableBaseName(name))
            base = name;
    }
    // A file name holds at most 255 bytes: a long title is cut at a
    // character boundary so that the name and its extension still fit.
    base = prefixFittingBytes(base, fileNameBytes - 1 - extension.toUtf8().size());
    if (!isUsableBaseName(base))
        base = QStringLiteral("Tolvex-") + uuidText(record.id).left(8);
    return base + u'.' + extension;
}

} // namespace tolvex
