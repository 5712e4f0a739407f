#include "app/AppLanguage.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>

AppLanguage::Language AppLanguage::languageFor(const QStringList &uiLanguages)
{
    if (uiLanguages.isEmpty())
        return Language::Chinese;
    const QString first = uiLanguages.first();
    // QLocale reads "C" and "POSIX" as the C locale, whose texts are English; here they are not.
    if (first.compare(u"C", Qt::CaseInsensitive) == 0 || first.startsWith(u"C.") ||
        first.compare(u"POSIX", Qt::CaseInsensitive) == 0)
        return Language::Chinese;
    return QLocale(first).language() == QLocale::English ? Language::English : Language::Chinese;
}

AppLanguage::Language AppLanguage::systemLanguage()
{
    return languageFor(QLocale::system().uiLanguages());
}

QString AppLanguage::fileSuffix(Language language)
{
    return language == Language::English ? QStringLiteral("en") : QStringLiteral("zh_CN");
}

AppLanguage::AppLanguage(QObject *parent)
    : QObject(parent)
{}

AppLanguage::~AppLanguage()
{
    removeTranslators();
}

bool AppLanguage::use(Language language)
{
    removeTranslators();
    m_language = language;
    const QString suffix = fileSuffix(language);
    // The Chinese file holds only the detail labels' colons; every other text is its own source.
    const bool own = m_ownTexts.load(QStringLiteral(":/i18n/orvale_%1.qm").arg(suffix));
    if (own)
        QCoreApplication::installTranslator(&m_ownTexts);
    const bool qt = m_qtTexts.load(QStringLiteral("qtbase_%1").arg(suffix),
                                   QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    if (qt)
        QCoreApplication::installTranslator(&m_qtTexts);
    return own && qt;
}

void AppLanguage::removeTranslators()
{
    QCoreApplication::removeTranslator(&m_ownTexts);
    QCoreApplication::removeTranslator(&m_qtTexts);
}
