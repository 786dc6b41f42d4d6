// Show in File Manager on a desktop that can show nothing: no file manager
// on the bus and a launcher that fails, or that cannot be started at all.
// Each way into it in the running program (the failed open's alert, the
// settings window's button, the card's menu item) ends in the alert that
// names the path, and its Copy Path button puts the path on the clipboard.
#include "Shell/DelegateScene.h"
#include "Support/DataRootBuilder.h"
#include "Support/EventLoopWait.h"
#include "Support/MemoryUserDefaults.h"
#include "TolvexCore/Model/DataRoot.h"
#include "TolvexCore/Texts/MessageFormat.h"
#include "Velmarin/Platform/NoApplicationError.h"
#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Shelf/Line.h"
#include "Velmarin/Shell/AppDelegate.h"
#include "Velmarin/Windows/IntakeSettingsController.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <optional>

namespace tolvex {
namespace {

using testing::waitUntil;

QString text(MessageKey key)
{
    return appLocalizer().string(key);
}

// Answers every alert as it shows: the failure alert with Copy Path (its
// message kept), any other with its first button.
class AlertAnswers final : public QObject {
public:
    AlertAnswers() { qApp->installEventFilter(this); }
    ~AlertAnswers() override { qApp->removeEventFilter(this); }

    QStringList titles;
    // The message of each failure alert answered.
    QStringList failures;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* box = qobject_cast<QMessageBox*>(watched);
        if (!box || event->type() != QEvent::Show)
            return false;
        const QPointer<QMessageBox> alert(box);
        QTimer::singleShot(0, this, [this, alert] {
            if (!alert)
                return;
            titles.append(alert->text());
            QAbstractButton* answer = nullptr;
            for (QAbstractButton* button : alert->buttons()) {
                if (button->text() == text(MessageKey::revealCopyPath)) {
                    answer = button;
                    failures.append(alert->informativeText());
                }
            }
            if (!answer && !alert->buttons().isEmpty())
                answer = alert->buttons().constFirst();
            if (answer)
                answer->click();
            else
                alert->done(0);
        });
        return false;
    }
};

// The path a failure alert names, as the text puts it in.
QString namedPath(const QString& message)
{
    const QString form = text(MessageKey::revealFailed);
    const qsizetype at = form.indexOf(QLatin1String("%@"));
    if (at < 0 || !message.startsWith(form.left(at)) || !message.endsWith(form.mid(at + 2)))
        return {};
    return message.mid(at, message.size() - form.size() + 2);
}

TEST(ShowInFileManagerX11, EveryWayInEndsInTheAlertNamingThePath)
{
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    struct Launcher {
        const char* name;
        QByteArray script;
    };
    const Launcher launchers[] = {
        {"a launcher that fails", "#!/bin/sh\nexit 4\n"},
        {"a launcher that cannot be started", "#!/nonexistent/interpreter\nexit 0\n"},
    };
    const QByteArray path = qgetenv("PATH");
    for (const Launcher& launcher : launchers) {
        SCOPED_TRACE(launcher.name);
        QTemporaryDir bin;
        ASSERT_TRUE(bin.isValid());
        QFile script(bin.filePath(QStringLiteral("xdg-open")));
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write(launcher.script);
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const testing::EnvironmentOverride onPath("PATH", (QFile::encodeName(bin.path()) + ':' + path).constData());

        QTemporaryDir home;
        testing::DataRootBuilder builder(home.filePath(QStringLiteral("Tolvex")));
        const QUuid card = builder.addMaterial("A card on the rope").id;
        builder.writeState();
        AppDelegate::Options options;
        options.sound = std::make_shared<testing::CountingSound>();
        AppDelegate delegate(AppEnvironment{false, builder.rootURL()}, std::move(options));
        delegate.applicationWillFinishLaunching();
        delegate.applicationDidFinishLaunching();
        ASSERT_TRUE(waitUntil([&] { return delegate.hasWorkflow() && delegate.intakeSettings(); }));

        const QString unopened = home.filePath(QStringLiteral("Tolvex/Exports/A/copy.unknownkind"));
        struct Entry {
            const char* name;
            std::function<void()> choose;
            // The path the alert must name; empty: an exported copy.
            QString shown;
        };
        const Entry entries[] = {
            {"the failed open's Show in File Manager",
                [&] {
                    delegate.presentActionError(
                        std::make_exception_ptr(NoApplicationError(QUrl::fromLocalFile(unopened))));
                },
                unopened},
            {"the settings window's Show in File Manager",
                [&] {
                    delegate.openSettings(1);
                    QWidget* window = delegate.intakeSettings()->window();
                    for (QPushButton* button : window->findChildren<QPushButton*>()) {
                        if (button->text() == text(MessageKey::libraryReveal))
                            button->click();
                    }
                },
                builder.rootPath()},
            {"the card menu's Show in File Manager", [&] { delegate.line().onReveal(card); }, QString()},
        };
        for (const Entry& entry : entries) {
            SCOPED_TRACE(entry.name);
            QGuiApplication::clipboard()->clear();
            AlertAnswers answers;
            entry.choose();
            const bool alerted = waitUntil([&] { return !answers.failures.isEmpty(); });
            EXPECT_TRUE(alerted) << "alerts shown: " << answers.titles.join(u'|').toStdString();
            if (!alerted)
                continue;
            const QString named = namedPath(answers.failures.constFirst());
            if (entry.shown.isEmpty()) {
                EXPECT_TRUE(named.startsWith(builder.path(DataRoot::exportsFolder()) + u'/')) << named.toStdString();
                EXPECT_TRUE(QFile::exists(named)) << named.toStdString();
            } else {
                EXPECT_EQ(named, entry.shown);
            }
            EXPECT_TRUE(waitUntil([&] { return QGuiApplication::clipboard()->text() == named; }))
                << QGuiApplication::clipboard()->text().toStdString();
            EXPECT_EQ(answers.failures.size(), 1);
        }
        if (QWidget* window = delegate.intakeSettings()->window())
            window->hide();
    }
}

} // namespace
} // namespace tolvex
