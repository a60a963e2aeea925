#pragma once
// The program's six original windows, created at start-up and alive until exit (the cell
// windows belong to the main window).
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

// Creates the windows in their start-up order (main first).
void CreateForms();
// Destroys them in reverse order.
void DestroyForms();

} // namespace forms
