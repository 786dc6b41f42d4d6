#pragma once

#include <QUuid>

namespace tolvex {

// How an import ended: the card that now hangs, the existing material that
// already holds the content, or no room on the shelf.
class ImportDisposition {
public:
    enum class Case { hanging, duplicate, shelfFull };

    static ImportDisposition hanging(const QUuid& id) { return ImportDisposition(Case::hanging, id); }
    static ImportDisposition duplicate(const QUuid& id) { return ImportDisposition(Case::duplicate, id); }
    static ImportDisposition shelfFull() { return ImportDisposition(Case::shelfFull, QUuid()); }

    Case kind() const { return case_; }
    // The material id of `hanging` and `duplicate`; null for `shelfFull`.
    const QUuid& id() const { return id_; }

    friend bool operator==(const ImportDisposition& a, const ImportDisposition& b)
    {
        return a.case_ == b.case_ && a.id_ == b.id_;
    }

private:
    ImportDisposition(Case c, const QUuid& id) : case_(c), id_(id) {}
    Case case_;
    QUuid id_;
};

} // namespace tolvex
