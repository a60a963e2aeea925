#pragma once
#include <QString>

// The program's six original windows, created at start-up and alive until exit (the cell
// windows and the library's belong to the main window).
class Tmain;
class Tgraph;
class Tparam;
class Tcomch;
class TAboutBox;
class Tparag;

namespace forms {

extern Tmain *main;
extern Tgraph *graph;
extern Tparam *param;
extern Tcomch *comch;
extern TAboutBox *AboutBox;
extern Tparag *parag;

// Copies the settings into every dialog's controls, then sizes the main window.
void PushSettingsToDialogs();

enum class FormId { Graph, Param, Comch, AboutBox, Parag };
// Shows a window modeless, or brings it to the front when it is already shown.
void ShowForm(FormId id);

// Creates the windows in their start-up order (main first); the main window
// records into the cell library at libraryPath (none when empty).
void CreateForms(const QString &libraryPath = QString());
// Destroys them in reverse order.
void DestroyForms();

} // namespace forms
