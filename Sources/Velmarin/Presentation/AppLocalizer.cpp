#include "Velmarin/Presentation/AppLocalizer.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace tolvex {

namespace {

const char qtTextsName[] = "tolvex.qtTexts";

} // namespace

Localizer appLocalizer()
{
    return Localizer::shared();
}

void replaceAppLocalizer(Localizer localizer)
{
    Localizer::setShared(std::move(localizer));
    installQtTranslations();
}

void installQtTranslations()
{
    QCoreApplication* application = QCoreApplication::instance();
    if (!application)
        return;
    if (auto* previous = application->findChild<QTranslator*>(QLatin1String(qtTextsName), Qt::FindDirectChildrenOnly)) {
        QCoreApplication::removeTranslator(previous);
        delete previous;
    }
    // Qt's texts are written in English.
    const QString language = appLocalizer().language();
    if (language == QLatin1String("en"))
        return;
    auto* translator = new QTranslator(application);
    translator->setObjectName(QLatin1String(qtTextsName));
    // "zh-Hans" finds "qtbase_zh_CN.qm" through the locale's own fallbacks.
    if (translator->load(QLocale(language), QStringLiteral("qtbase"), QStringLiteral("_"),
            QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;
}

} // namespace tolvex
