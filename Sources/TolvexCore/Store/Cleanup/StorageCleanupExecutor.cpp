#include "TolvexCore/Store/Cleanup/StorageCleanupExecutor.h"

#include "TolvexCore/Model/DataRoot.h"
#include "TolvexCore/Model/JsonCoding.h"
#include "TolvexCore/Model/RecordEquality.h"
#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Model/UuidText.h"
#include "TolvexCore/Store/Cleanup/StorageCleanupPlanner.h"
#include "TolvexCore/Store/Internal/NoteDrafts.h"
#include "TolvexCore/Store/Internal/StoreContext.h"

#include <QSet>

#include <cstring>
#include <system_error>

namespace tolvex {

StorageCleanupExecutor::StorageCleanupExecutor(StoreContext& context, CleanupCollaborators collaborators)
    : context_(context), collaborators_(std::move(collaborators))
{
}

QString StorageCleanupExecutor::describe(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const StoreError& storeError) {
        const std::string_view name = storeError.caseName();
        return QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
    } catch (const std::system_error& fileError) {
        const std::error_code code = fileError.code();
        const char* name = nullptr;
        if (code.category() == std::generic_category() || code.category() == std::system_category())
            name = ::strerrorname_np(code.value());
        const QString label = name ? QString::fromLatin1(name) : QStringLiteral("error %1").arg(code.value());
        return label + QStringLiteral(": ") + QString::fromLocal8Bit(code.message());
    } catch (const std::exception& other) {
        return QString::fromLocal8Bit(other.what());
    } catch (...) {
        return QStringLiteral("unknown error");
    }
}

QList<CleanupTarget> StorageCleanupExecutor::confirm(const StorageCleanupPlan& plan)
{
    const StorageCleanupPlan fresh =
        StorageCleanupPlanner(context_, collaborators_).buildCleanupPlan(plan.exportCutoff, plan.heldDrafts);
    if (!RecordEquality::same(plan.root, context_.paths.root()) || fresh.generation != plan.generation)
        throw StoreError::sourceChanged();

    // Targets that appeared since the preview are not the user's to lose;
    // every confirmed one must still be there, unchanged and in its place.
    QSet<QString> confirmedPaths;
    for (const CleanupTarget& target : plan.targets)
        confirmedPaths.insert(target.relativePath.normalized(QString::NormalizationForm_D));
    QList<CleanupTarget> kept;
    for (const CleanupTarget& target : fresh.targets) {
        if (confirmedPaths.contains(target.relativePath.normalized(QString::NormalizationForm_D)))
            kept.append(target);
    }
    if (kept != plan.targets)
        throw StoreError::sourceChanged();
    // Whoever made the plan, a draft left in place keeps the material it
    // was made on: the rule the user's selection follows is applied to the
    // fresh plan, which knows every draft.
    return fresh.selecting(confirmedPaths).targets;
}

void StorageCleanupExecutor::writeReceipt(
    const Json::CleanupReceiptEncoding& encoding, const CleanupReceipt& receipt, const QUrl& location)
{
    context_.files->writeAtomic(encoding.encode(receipt), location);
}

StorageCleanupResult StorageCleanupExecutor::cleanStorage(const StorageCleanupPlan& plan)
{
    const QList<CleanupTarget> targets = confirm(plan);
    const WorkspaceSnapshot before = context_.ensureLoaded();
    WorkspaceSnapshot working = before;

    CleanupReceipt receipt;
    receipt.id = plan.id;
    receipt.createdAt = Date::now();
    receipt.snapshotBefore = before;
    receipt.targets = targets;
    const QString receiptPath = DataRoot::cleanupReceiptPath(QUuid::createUuid());
    context_.url(receiptPath);
    context_.files->createDirectory(context_.url(DataRoot::cleanupRecordsFolder()));
    // The guard looks again at the folder that now exists.
    const QUrl receiptURL = context_.url(receiptPath);
    // Only the outcomes change from one write to the next.
    const Json::CleanupReceiptEncoding encoding(receipt);
    writeReceipt(encoding, receipt, receiptURL);

    // Marked before anything moves, so that no record ever names a folder
    // that is already in the Trash as taken down. Saved twice, so that the
    // previous copy of the snapshot carries the mark as well.
    QSet<QUuid> marked;
    for (const CleanupTarget& target : targets) {
        if (target.kind == CleanupTarget::Kind::material && target.materialID)
            marked.insert(*target.materialID);
    }
    if (!marked.isEmpty()) {
        for (MaterialRecord& record : working.materials) {
            if (marked.contains(record.id))
                record.status = MaterialStatus::trashed;
        }
        working = context_.persist(working);
        working = context_.persist(working);
    }

    StorageCleanupResult result;
    result.receiptURL = receiptURL;
    StorageCleanupPlanner planner(context_, collaborators_);
    // Outcomes not yet in the receipt file. They go with the write that
    // announces the next move, or with the last write: one write a target.
    // Until then the file tells the truth all the same: a target whose
    // outcome is missing was never touched, or was announced and is in its
    // place or in the Trash.
    qsizetype written = 0;
    const auto writeOutcomes = [&] {
        writeReceipt(encoding, receipt, receiptURL);
        written = receipt.outcomes.size();
    };
    for (const CleanupTarget& target : targets) {
        QUrl location;
        try {
            location = context_.url(target.relativePath);
        } catch (...) {
            // The guard's refusal ends the cleanup; the outcomes so far are
            // recorded first if they can be (else the file keeps its last truth).
            try {
                if (written < receipt.outcomes.size())
                    writeOutcomes();
            } catch (const std::exception&) {
            }
            throw;
        }
        CleanupReceipt::Outcome outcome;
        outcome.originalPath = location.toLocalFile();

        std::exception_ptr error;
        try {
            if (planner.cleanupFingerprints(location) != target.fingerprints)
                throw StoreError::sourceChanged();
        } catch (const std::exception&) {
            error = std::current_exception();
        }
        if (!error) {
            // Announced before the move: a cleanup that stops from here until
            // its outcome is written leaves this mark in the receipt.
            receipt.outcomes.append(CleanupReceipt::Outcome{
                outcome.originalPath, std::nullopt, false, QString::fromLatin1(interruptedError)});
            writeOutcomes();
            receipt.outcomes.removeLast();
            --written;
            try {
                outcome.trashURL = context_.files->trash(location);
                if (context_.exists(location))
                    throw StoreError::recoveryRequired();
                if (planner.cleanupFingerprints(*outcome.trashURL) != target.fingerprints)
                    throw StoreError::recoveryRequired();
            } catch (const std::exception&) {
                error = std::current_exception();
            }
        }

        if (!error) {
            outcome.verified = true;
            ++result.movedCount;
            result.movedBytes += target.byteCount;
        } else {
            bool stillInPlace = false;
            try {
                stillInPlace = context_.exists(location);
            } catch (const std::exception&) {
                // Its fate cannot be told: counted as unverified.
            }
            if (stillInPlace) {
                ++result.failedCount;
                if (target.kind == CleanupTarget::Kind::material && target.materialID) {
                    const MaterialRecord* old = before.findMaterial(*target.materialID);
                    MaterialRecord* current = working.findMaterial(*target.materialID);
                    if (old && current)
                        current->status = old->status;
                }
            } else {
                ++result.unverifiedCount;
            }
            outcome.verified = false;
            outcome.error = describe(error);
        }
        receipt.outcomes.append(outcome);
    }
    if (written < receipt.outcomes.size())
        writeOutcomes();
    // A note draft that left for the Trash no longer protects its material.
    if (result.movedCount + result.unverifiedCount > 0)
        NoteDrafts(context_).forgetMaterialsWithoutDrafts();

    if (!context_.state || working != *context_.state)
        working = context_.persist(working);
    result.snapshot = working;
    return result;
}

} // namespace tolvex
