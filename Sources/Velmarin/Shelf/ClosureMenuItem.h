#pragma once

#include <QAction>

#include <functional>

namespace tolvex {

// A menu row that runs a stored closure when triggered; shared by the
// status, rope and card menus so that none of them needs a slot per row.
class ClosureMenuItem final : public QAction {
public:
    ClosureMenuItem(const QString& title, std::function<void()> handler, QObject* parent = nullptr);

    void fire();

private:
    std::function<void()> handler_;
};

} // namespace tolvex
