#pragma once
// The windows name the Windows Japanese fonts; these map them onto the IPA fonts
// where those are missing (Linux, Wine). Windows finds its own MS fonts first.
#include <QFont>

namespace fonts {
void InstallSubstitutions();
// The font every window sets on itself: ＭＳ Ｐゴシック, 12 pixels.
QFont WindowFont();
// The fixed-pitch font of the log pane, the capacity labels and the usage
// text: ＭＳ ゴシック at the given pixel size.
QFont FixedFont(int pixelSize = 12);
// The toolkit's own texts (file dialogs, standard buttons) in Japanese, like the
// rest of the program, whatever the system language. False when Qt's Japanese
// translations are not installed.
bool InstallJapaneseTranslations();
} // namespace fonts
