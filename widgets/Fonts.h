#pragma once
// The windows name the Windows Japanese fonts; these map them onto the IPA fonts
// where those are missing (Linux, Wine). Windows finds its own MS fonts first.
namespace fonts {
void InstallSubstitutions();
// The toolkit's own texts (file dialogs, standard buttons) in Japanese, like the
// rest of the program, whatever the system language. False when Qt's Japanese
// translations are not installed.
bool InstallJapaneseTranslations();
} // namespace fonts
