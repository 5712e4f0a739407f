#pragma once

#include <QObject>
#include <QStringList>
#include <QTranslator>

/// The language of the user interface: the client's own texts and Qt's. Chinese is the language
/// the texts are written in; English is the one translation, chosen when the desktop's first
/// interface language is English.
class AppLanguage final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AppLanguage)

public:
    enum class Language { Chinese, English };

    /// English when the first of `uiLanguages` is English, Chinese for anything else (a C or
    /// POSIX locale and an empty list included).
    static Language languageFor(const QStringList &uiLanguages);
    /// The language of the desktop this process runs on.
    static Language systemLanguage();
    /// The suffix of the translation files: "en" or "zh_CN".
    static QString fileSuffix(Language language);

    explicit AppLanguage(QObject *parent = nullptr);
    ~AppLanguage() override;

    /// Installs the translations of `language` in place of the current ones. False when one of
    /// them could not be loaded; the texts then fall back to their Chinese originals.
    bool use(Language language);
    Language language() const { return m_language; }

private:
    void removeTranslators();

    QTranslator m_ownTexts;
    QTranslator m_qtTexts;
    Language m_language = Language::Chinese;
};
