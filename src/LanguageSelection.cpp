#include "LanguageSelection.h"

#include <string>

#include "AppObjects.h"
#include "CMainUI.h"
#include "CResource.h"
#include "CodeTables.h"
#include "Log.h"
#include "RunState.h"
#include "UserMessages.h"
#include "WideAPI.h"
#include "resource.h"

// Every language named on the command line must be one the settings file
// offers, as the language of /l must: otherwise the run stops before anything
// is installed (13, as for /l), rather than install other languages.
static bool CommandLanguagesOffered(DWORD& result)
{
    CResource* settings = g_resource;
    bool offered[LANGUAGE_SLOTS] = {false};
    for (unsigned int slot = 0; slot < settings->GetLabelSectionCount(); ++slot)
    {
        int index = LanguageIndex(settings->GetLabelCode(slot));
        const wchar_t* label = index >= 0 && index < LANGUAGE_SLOTS ? settings->GetLabelFor(LABEL_SELECT_LANGUAGE, index) : NULL;
        if (label != NULL && label[0] != 0)
            offered[index] = true;
    }
    for (int i = 0; i < LANGUAGE_SLOTS; ++i)
    {
        if (!RunState.commandLanguages[i] || offered[i])
            continue;
        std::wstring text = L"Language '" + std::wstring(A2W(LanguageCode(i))) + L"' not found in file '";
        text += A2W(settings->GetIniFile());
        text += L"'";
        TellText(MESSAGE_ERROR, text.c_str());
        result = RC_INVALID_DATA;
        return false;
    }
    return true;
}

bool RunLanguageSelection(DWORD& result, bool preselect)
{
    result = 0;
    CMainUI* ui = g_mainUI;
    CResource* settings = g_resource;
    if (ui == NULL || settings == NULL)
        return false;
    if (preselect && RunState.languageCount == 0)
        preselect = false;
    RunState.languageCount = 0;
    if (!CommandLanguagesOffered(result))
        return false;

    // Unattended nobody ticks: the languages named on the command line, else
    // those of the earlier installation, else the run's own language. Named
    // on the command line, they are also what an interactive run offers ticked.
    bool unattended = RunState.Unattended() && !RunState.multiMode;
    bool earlierLanguages = false;
    for (int i = 0; i < LANGUAGE_SLOTS; ++i)
        earlierLanguages = earlierLanguages || RunState.languageSelected[i];

    int onlyLanguage = -1;
    bool keepUnchecked = preselect && !RunState.targetDir.IsEmpty() && !RunState.multiMode;
    for (unsigned int slot = 0; slot < settings->GetLabelSectionCount(); ++slot)
    {
        int index = LanguageIndex(settings->GetLabelCode(slot));
        if (index < 0 || index >= LANGUAGE_SLOTS)
            continue;
        const wchar_t* label = settings->GetLabelFor(LABEL_SELECT_LANGUAGE, index);
        std::wstring caption = label ? label : L"";
        bool checked;
        if (RunState.languageSelected[index])
        {
            caption += L" *";
            checked = true;
        }
        else
        {
            checked = !keepUnchecked;
        }
        if (RunState.commandLanguageCount > 0 && !RunState.multiMode)
            checked = RunState.commandLanguages[index];
        else if (unattended)
            checked = earlierLanguages ? RunState.languageSelected[index] : index == settings->GetLanguage();
        if (label != NULL && label[0] != 0)
            ui->AddLanguageChoice(caption.c_str(), index, checked, !RunState.multiMode);
        ++RunState.languageCount;
        onlyLanguage = index;
    }

    if (RunState.languageCount <= 1)
    {
        if (onlyLanguage >= 0)
            RunState.languageSelected[onlyLanguage] = true;
        return true;
    }

    ui->SetInfoKey(LABEL_LANGUAGE_SELECTION);
    const wchar_t* info = settings->GetLabel(LABEL_LANGUAGE_SELECTION);
    ui->SetItemText(IDC_INFO_TEXT, info ? info : L"");
    ui->ShowForWork(true);
    HWND window = ui->GetWindow();
    HWND proceed = window != NULL ? GetDlgItem(window, IDC_PROCEED) : NULL;
    bool anyChecked = false;
    for (int i = 0; i < LANGUAGE_SLOTS; ++i)
        anyChecked = anyChecked || ui->IsChoiceChecked(i);
    if (proceed != NULL)
        EnableWindow(proceed, anyChecked ? TRUE : FALSE);

    if (RunState.multiMode || unattended)
    {
        if (unattended)
            LogMessage(2, LOG_INFO, "Language selection not shown (%hs): the languages %hs.\n",
                       RunState.UnattendedName(),
                       RunState.commandLanguageCount > 0 ? "of the command line"
                       : earlierLanguages                ? "of the earlier installation"
                                                         : "of the run");
        ui->PumpMessages();
        result = 0;
    }
    else
    {
        ui->WaitForChoice();
        result = ui->GetResult();
    }

    RunState.languageCount = 0;
    for (int i = 0; i < LANGUAGE_SLOTS; ++i)
    {
        if (ui->IsChoiceChecked(i))
        {
            RunState.languageSelected[i] = true;
            ++RunState.languageCount;
            LogMessage(3, LOG_INFO, "Language '%hs' selected.\n", LanguageCode(i));
        }
        else
        {
            RunState.languageSelected[i] = false;
        }
        HWND choice = window != NULL ? GetDlgItem(window, IDC_LANGUAGE_FIRST + i) : NULL;
        if (choice != NULL)
            EnableWindow(choice, FALSE);
    }
    if (window != NULL && IsWindow(window) && (proceed = GetDlgItem(window, IDC_PROCEED)) != NULL)
        EnableWindow(proceed, FALSE);
    return result == 0;
}
