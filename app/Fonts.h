#pragma once
// The windows name the Windows Japanese fonts; these map them onto the IPA fonts.
namespace fonts {
void InstallSubstitutions();
}
