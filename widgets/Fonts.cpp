#include "widgets/Fonts.h"

#include <QCoreApplication>
#include <QFont>
#include <QLibraryInfo>
#include <QString>
#include <QTranslator>

namespace fonts {

void InstallSubstitutions()
{
    struct Pair {
        const char *ms;
        const char *ipa;
    };
    static const Pair pairs[] = {
        {"ＭＳ ゴシック", "IPAGothic"},
        {"ＭＳ Ｐゴシック", "IPAPGothic"},
        {"ＭＳ 明朝", "IPAMincho"},
        {"ＭＳ Ｐ明朝", "IPAPMincho"},
        {"MS Gothic", "IPAGothic"},
        {"MS PGothic", "IPAPGothic"},
        {"MS Mincho", "IPAMincho"},
        {"MS PMincho", "IPAPMincho"},
    };
    for (const Pair &p : pairs)
        QFont::insertSubstitution(QString::fromUtf8(p.ms), QString::fromUtf8(p.ipa));
}

QFont WindowFont()
{
    QFont f(QStringLiteral("ＭＳ Ｐゴシック"));
    f.setPixelSize(12);
    return f;
}

QFont FixedFont(int pixelSize)
{
    QFont f(QStringLiteral("ＭＳ ゴシック"));
    f.setStyleHint(QFont::TypeWriter);
    f.setPixelSize(pixelSize);
    return f;
}

bool InstallJapaneseTranslations()
{
    auto *translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QStringLiteral("qtbase_ja"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    return true;
}

} // namespace fonts
