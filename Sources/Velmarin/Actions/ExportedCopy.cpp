#include "Velmarin/Actions/ExportedCopy.h"

#include "TolvexCore/Content/ContentStore.h"
#include "TolvexCore/Model/DataRoot.h"
#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Store/FutureResult.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <system_error>

namespace tolvex {

QUrl exportDestination(const QUrl& root, const MaterialRecord& record, const QString& fileExtension)
{
    const QString folder = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    const QString name = ContentStore::suggestedExportFilename(record, fileExtension);
    return QUrl::fromLocalFile(root.toLocalFile() + u'/' + DataRoot::exportsFolder() + u'/' + folder + u'/' + name);
}

QCoro::Task<void> clearExecuteBits(QUrl copy)
{
    QFuture<void> clearing = QtConcurrent::run(QThreadPool::globalInstance(), [copy] {
        constexpr QFile::Permissions execute
            = QFile::ExeOwner | QFile::ExeUser | QFile::ExeGroup | QFile::ExeOther;
        QFile file(copy.toLocalFile());
        const QFile::Permissions now = file.permissions();
        if ((now & execute) && !file.setPermissions(now & ~execute))
            throw std::system_error(std::make_error_code(std::errc::operation_not_permitted));
    });
    QCoro::Task<void> waiting = awaitResult(std::move(clearing));
    co_await std::move(waiting);
}

QCoro::Task<QString> readUtf8(QUrl file)
{
    QFuture<QString> reading = QtConcurrent::run(QThreadPool::globalInstance(), [file] {
        QFile input(file.toLocalFile());
        if (!input.open(QIODevice::ReadOnly))
            throw std::system_error(std::make_error_code(std::errc::io_error));
        const QByteArray bytes = input.readAll();
        if (input.error() != QFileDevice::NoError)
            throw std::system_error(std::make_error_code(std::errc::io_error));
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString text = decoder(bytes);
        if (decoder.hasError())
            throw StoreError::invalidSource();
        return text;
    });
    QCoro::Task<QString> waiting = awaitResult(std::move(reading));
    co_return co_await std::move(waiting);
}

} // namespace tolvex
