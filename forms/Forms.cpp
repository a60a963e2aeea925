#include "forms/Forms.h"
#include "core/Settings.h"
#include "forms/Uaboutbox.h"
#include "forms/Ucomch.h"
#include "forms/Ugraph.h"
#include "forms/Uparag.h"
#include "forms/Uparam.h"
#include "forms/Uvoltrak.h"
#include "widgets/LogPane.h"

namespace forms {

Tmain *main = nullptr;
Tgraph *graph = nullptr;
Tparam *param = nullptr;
Tcomch *comch = nullptr;
TAboutBox *AboutBox = nullptr;
Tparag *parag = nullptr;

void PushSettingsToDialogs()
{
    if (param)
        param->PushSettings();
    if (parag)
        parag->PushSettings();
    if (comch)
        comch->PushSettings();
    if (main) {
        // Both values are taken before either is applied: the resize handler
        // that follows stores the new size.
        const int w = settings::Wmain;
        const int h = settings::Hmain;
        main->SetOuterSize(w, h);
    }
}

void ShowForm(FormId id)
{
    QWidget *w = nullptr;
    switch (id) {
    case FormId::Graph: w = graph; break;
    case FormId::Param: w = param; break;
    case FormId::Comch: w = comch; break;
    case FormId::AboutBox: w = AboutBox; break;
    case FormId::Parag: w = parag; break;
    }
    if (!w)
        return;
    w->show();
    w->raise();
    w->activateWindow();
}

void CreateForms(const QString &libraryPath)
{
    main = new Tmain(nullptr, libraryPath);
    graph = new Tgraph;
    param = new Tparam;
    comch = new Tcomch;
    AboutBox = new TAboutBox;
    parag = new Tparag;
    // Each window is handed what it works with.
    comch->SetPort(main->CommX1, main->PortWatcher1);
    parag->SetLog(main->RichEdit1);
    QObject::connect(graph, &Tgraph::sizeRecorded, parag, &Tparag::ShowGraphSize);
}

void DestroyForms()
{
    delete parag;
    parag = nullptr;
    delete AboutBox;
    AboutBox = nullptr;
    delete comch;
    comch = nullptr;
    delete param;
    param = nullptr;
    delete graph;
    graph = nullptr;
    delete main;
    main = nullptr;
    SettingsPushed = false;
}

} // namespace forms
