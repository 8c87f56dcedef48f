#!/usr/bin/env python3
"""Writes examples/Zaph.ini, the settings file of the sample distribution.

The file is UTF-16 little-endian with the mark FF FE and CR LF line ends, as
the distributions ship it: one file carries the labels of every language,
Greek and Polish among them.

[CheckSums] is left empty here: the delivered files are made by
make_distribution.py in a copy of this folder, and the release tool fwchecksums
writes their entries there. Rerun this script after changing a list below:

    python3 examples/make_ini.py
"""

import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
MEMBER_STATE = "LU"
EDITION_DOTNET = False

SETTINGS = [
    ("; Sample distribution of ZAPH for Luxembourg.", None),
    ("; In LOCAL mode (setup.exe, or _FW_LOCAL_.txt beside it) BASE_URL is replaced", None),
    ("; by the folder the setup runs from.", None),
    ("BASE_URL", "http://downloads.zaph.example/LU/2.1/"),
    ("MemberState", MEMBER_STATE),
    ("IniVersion", "2.1"),
    ("ExeVersion", "2.1.0.5"),
    ("DotNet", "no"),
    ("DefaultLanguage", "FR"),
    ("DefaultTargetDir", "<ProgramFiles>\\ZAPH"),
    ("Threading", "On"),
    ("CleanMSNew", "yes"),
    ("MSI_Version", "200"),
    ("CheckMSIVersion", "yes"),
    ("AskMSIUpgrade", "yes"),
    ("MSI_NT", "setup\\InstMsiW.exe"),
    ("MSI_9X", "setup\\InstMsiA.exe"),
    ("SYS_LN_DIR", "setup"),
    ("SYSLNVersion", "2.1.0"),
    ("InstallSysLN", "yes"),
    ("NumComponents", "9"),
    ("Reboot", "yes"),
    ("V11InstallerAvailable", "no"),
    ("SPV11InstallerAvailable", "no"),
    ("V20InstallerAvailable", "no"),
]

# Component lines: name=value;rules (grammar of the component lists).
COMPONENTS = [
    "# The main program travels packed; it is unpacked once the data is in place",
    "Login.exe.zip=V2.1.0.5",
    "# Data of the member state",
    "<MS>\\ms.mdb=V2.1.0.0",
    "<MS>\\<Lang>\\labels.mdb=V2.1.0.0",
    "<MS>\\EN\\guide.pdf=Any",
    "<MS>\\FR\\guide.pdf=Any",
    "<MS>\\DE\\guide.pdf=Any",
    "<MS>\\rates.mdb=01/07/2007;IfNotExists=<MS>\\rates.lock;Else=$SKIP$",
]

ADDITIONAL = [
    "# Files that do not decide the outcome of the run",
    "<MS>\\news.txt=Any",
    "<MS>\\<Lang>\\readme.txt=V+",
]

LANGUAGES = ["EN", "FR", "DE", "EL", "PL"]

# Every label the program shows. Formats: %s wide text, %hs narrow text, in
# the order the program passes them.
LABELS = {
    "EN": {
        "Caption": "%s ZAPH Setup [%hs]",
        "Organisation": "Ombrant",
        "Header": "ZAPH Setup and Upgrade",
        "Branding": "Ombrant ZAPH",
        "CancelButton": "Cancel",
        "ProceedButton": "Proceed",
        "ConfirmCancel": "Do you really want to cancel the installation?",
        "SelectLanguage": "Select the languages to install",
        "LanguageSelection": "Choose the languages of ZAPH, then press Proceed.",
        "DownloadFile": "Obtaining '%hs' from '%hs'...",
        "FailFile": "The file '%hs' could not be obtained from '%hs'.",
        "WorkingOffLine": "No connection to the Internet is available.|Please connect and start the setup again.",
        "InvalidValue": "The setting '%s' of the settings file is missing or invalid.",
        "ErrorOccurred": "An error occurred:|%s",
        "PleaseWait": "%s - please wait...",
        "NoInstallation": "No valid installation of ZAPH was found in '%hs'.",
        "CannotMove": "The folder '%hs' could not be moved to '%hs'.",
        "HasMoved": "The installation has been moved from '%hs' to '%hs'.",
        "CannotCopy": "The folder '%hs' could not be copied to '%hs'.",
        "CannotMoveSub": "The folder '%hs' cannot be moved into '%hs': one contains the other.",
        "Initialising": "Initialising",
        "InstallSystem": "Installing the ZAPH programs",
        "PostInstallCheck": "Checking the installation",
        "InstallComponents": "Installing the data",
        "WasAbandoned": "The installation was abandoned.",
        "NoUpgrade": "The installed version is up to date; no upgrade is needed.",
        "MadeBackup": "Have you made a backup of your ZAPH data?",
        "AfterBackup": "Please make a backup of your data, then start the setup again.",
        "InUse": "ZAPH is in use. Please close every ZAPH program, then press OK.",
        "WarnNotAdmin": "You are not an administrator of this computer; the programs cannot be updated.",
        "CannotInstallPre": "The required system components cannot be installed on this computer.",
        "FailInstallPre": "The required system components could not be installed.",
        "Reboot": "Please restart the computer to complete the installation.",
        "Success": "ZAPH has been installed successfully.",
        "FailLoadMSI": "The Windows Installer could not be loaded.",
        "UninstallFail": "The earlier version of ZAPH could not be removed.",
        "WasCancelled": "The installation was cancelled.",
        "UpgradeServerFirst": "This is a client installation. Please upgrade the server first.",
        "ShouldUpgradeV11": "Please install the service pack of the Microsoft .NET Framework 1.1.",
        "MustBeAdmin": "You must be an administrator of this computer to continue.",
        "AllowPreUpgrade": "The following system components will be installed first:",
        "AllowUpdateMSI": "The Windows Installer must be updated. Continue?",
        "FailInstallMSI": "The Windows Installer could not be updated.",
    },
    "FR": {
        "Caption": "%s Installation de ZAPH [%hs]",
        "Organisation": "Ombrant",
        "Header": "Installation et mise à jour de ZAPH",
        "Branding": "Ombrant ZAPH",
        "CancelButton": "Annuler",
        "ProceedButton": "Continuer",
        "ConfirmCancel": "Voulez-vous vraiment annuler l'installation ?",
        "SelectLanguage": "Choisissez les langues à installer",
        "LanguageSelection": "Choisissez les langues de ZAPH, puis cliquez sur Continuer.",
        "DownloadFile": "Obtention de « %hs » depuis « %hs »...",
        "FailFile": "Le fichier « %hs » n'a pas pu être obtenu depuis « %hs ».",
        "WorkingOffLine": "Aucune connexion à Internet n'est disponible.|Connectez-vous et relancez l'installation.",
        "InvalidValue": "Le paramètre « %s » du fichier de configuration est absent ou incorrect.",
        "ErrorOccurred": "Une erreur s'est produite :|%s",
        "PleaseWait": "%s - veuillez patienter...",
        "NoInstallation": "Aucune installation valide de ZAPH n'a été trouvée dans « %hs ».",
        "CannotMove": "Le dossier « %hs » n'a pas pu être déplacé vers « %hs ».",
        "HasMoved": "L'installation a été déplacée de « %hs » vers « %hs ».",
        "CannotCopy": "Le dossier « %hs » n'a pas pu être copié vers « %hs ».",
        "CannotMoveSub": "Le dossier « %hs » ne peut pas être déplacé dans « %hs » : l'un contient l'autre.",
        "Initialising": "Initialisation",
        "InstallSystem": "Installation des programmes ZAPH",
        "PostInstallCheck": "Vérification de l'installation",
        "InstallComponents": "Installation des données",
        "WasAbandoned": "L'installation a été abandonnée.",
        "NoUpgrade": "La version installée est à jour ; aucune mise à jour n'est nécessaire.",
        "MadeBackup": "Avez-vous fait une sauvegarde de vos données ZAPH ?",
        "AfterBackup": "Veuillez sauvegarder vos données, puis relancez l'installation.",
        "InUse": "ZAPH est en cours d'utilisation. Fermez tous les programmes ZAPH, puis cliquez sur OK.",
        "WarnNotAdmin": "Vous n'êtes pas administrateur de cet ordinateur ; les programmes ne peuvent pas être mis à jour.",
        "CannotInstallPre": "Les composants système requis ne peuvent pas être installés sur cet ordinateur.",
        "FailInstallPre": "Les composants système requis n'ont pas pu être installés.",
        "Reboot": "Veuillez redémarrer l'ordinateur pour terminer l'installation.",
        "Success": "ZAPH a été installé avec succès.",
        "FailLoadMSI": "Windows Installer n'a pas pu être chargé.",
        "UninstallFail": "L'ancienne version de ZAPH n'a pas pu être supprimée.",
        "WasCancelled": "L'installation a été annulée.",
        "UpgradeServerFirst": "Ceci est une installation client. Veuillez d'abord mettre à jour le serveur.",
        "ShouldUpgradeV11": "Veuillez installer le service pack de Microsoft .NET Framework 1.1.",
        "MustBeAdmin": "Vous devez être administrateur de cet ordinateur pour continuer.",
        "AllowPreUpgrade": "Les composants système suivants seront d'abord installés :",
        "AllowUpdateMSI": "Windows Installer doit être mis à jour. Continuer ?",
        "FailInstallMSI": "Windows Installer n'a pas pu être mis à jour.",
    },
    "DE": {
        "Caption": "%s ZAPH-Installation [%hs]",
        "Organisation": "Ombrant",
        "Header": "Installation und Aktualisierung von ZAPH",
        "Branding": "Ombrant ZAPH",
        "CancelButton": "Abbrechen",
        "ProceedButton": "Weiter",
        "ConfirmCancel": "Möchten Sie die Installation wirklich abbrechen?",
        "SelectLanguage": "Wählen Sie die zu installierenden Sprachen",
        "LanguageSelection": "Wählen Sie die Sprachen von ZAPH und klicken Sie dann auf Weiter.",
        "DownloadFile": "„%hs“ wird von „%hs“ geholt...",
        "FailFile": "Die Datei „%hs“ konnte nicht von „%hs“ geholt werden.",
        "WorkingOffLine": "Es besteht keine Verbindung zum Internet.|Bitte stellen Sie eine Verbindung her und starten Sie die Installation erneut.",
        "InvalidValue": "Die Einstellung „%s“ der Einstellungsdatei fehlt oder ist ungültig.",
        "ErrorOccurred": "Ein Fehler ist aufgetreten:|%s",
        "PleaseWait": "%s - bitte warten...",
        "NoInstallation": "In „%hs“ wurde keine gültige ZAPH-Installation gefunden.",
        "CannotMove": "Der Ordner „%hs“ konnte nicht nach „%hs“ verschoben werden.",
        "HasMoved": "Die Installation wurde von „%hs“ nach „%hs“ verschoben.",
        "CannotCopy": "Der Ordner „%hs“ konnte nicht nach „%hs“ kopiert werden.",
        "CannotMoveSub": "Der Ordner „%hs“ kann nicht nach „%hs“ verschoben werden: einer enthält den anderen.",
        "Initialising": "Initialisierung",
        "InstallSystem": "Die ZAPH-Programme werden installiert",
        "PostInstallCheck": "Die Installation wird geprüft",
        "InstallComponents": "Die Daten werden installiert",
        "WasAbandoned": "Die Installation wurde abgebrochen.",
        "NoUpgrade": "Die installierte Version ist aktuell; eine Aktualisierung ist nicht nötig.",
        "MadeBackup": "Haben Sie Ihre ZAPH-Daten gesichert?",
        "AfterBackup": "Bitte sichern Sie Ihre Daten und starten Sie die Installation dann erneut.",
        "InUse": "ZAPH wird verwendet. Bitte schließen Sie alle ZAPH-Programme und klicken Sie dann auf OK.",
        "WarnNotAdmin": "Sie sind kein Administrator dieses Computers; die Programme können nicht aktualisiert werden.",
        "CannotInstallPre": "Die nötigen Systemkomponenten können auf diesem Computer nicht installiert werden.",
        "FailInstallPre": "Die nötigen Systemkomponenten konnten nicht installiert werden.",
        "Reboot": "Bitte starten Sie den Computer neu, um die Installation abzuschließen.",
        "Success": "ZAPH wurde erfolgreich installiert.",
        "FailLoadMSI": "Der Windows Installer konnte nicht geladen werden.",
        "UninstallFail": "Die frühere Version von ZAPH konnte nicht entfernt werden.",
        "WasCancelled": "Die Installation wurde abgebrochen.",
        "UpgradeServerFirst": "Dies ist eine Client-Installation. Bitte aktualisieren Sie zuerst den Server.",
        "ShouldUpgradeV11": "Bitte installieren Sie das Service Pack des Microsoft .NET Framework 1.1.",
        "MustBeAdmin": "Sie müssen Administrator dieses Computers sein, um fortzufahren.",
        "AllowPreUpgrade": "Zuerst werden folgende Systemkomponenten installiert:",
        "AllowUpdateMSI": "Der Windows Installer muss aktualisiert werden. Fortfahren?",
        "FailInstallMSI": "Der Windows Installer konnte nicht aktualisiert werden.",
    },
    "EL": {
        "Caption": "%s Εγκατάσταση ZAPH [%hs]",
        "Organisation": "Ombrant",
        "Header": "Εγκατάσταση και ενημέρωση του ZAPH",
        "Branding": "Ombrant ZAPH",
        "CancelButton": "Άκυρο",
        "ProceedButton": "Συνέχεια",
        "ConfirmCancel": "Θέλετε πράγματι να ακυρώσετε την εγκατάσταση;",
        "SelectLanguage": "Επιλέξτε τις γλώσσες προς εγκατάσταση",
        "LanguageSelection": "Επιλέξτε τις γλώσσες του ZAPH και πατήστε Συνέχεια.",
        "DownloadFile": "Λήψη του «%hs» από «%hs»...",
        "FailFile": "Δεν ήταν δυνατή η λήψη του αρχείου «%hs» από «%hs».",
        "WorkingOffLine": "Δεν υπάρχει σύνδεση στο Διαδίκτυο.|Συνδεθείτε και ξεκινήστε ξανά την εγκατάσταση.",
        "InvalidValue": "Η ρύθμιση «%s» του αρχείου ρυθμίσεων λείπει ή δεν είναι έγκυρη.",
        "ErrorOccurred": "Παρουσιάστηκε σφάλμα:|%s",
        "PleaseWait": "%s - παρακαλώ περιμένετε...",
        "NoInstallation": "Δεν βρέθηκε έγκυρη εγκατάσταση του ZAPH στο «%hs».",
        "CannotMove": "Δεν ήταν δυνατή η μετακίνηση του φακέλου «%hs» στο «%hs».",
        "HasMoved": "Η εγκατάσταση μετακινήθηκε από το «%hs» στο «%hs».",
        "CannotCopy": "Δεν ήταν δυνατή η αντιγραφή του φακέλου «%hs» στο «%hs».",
        "CannotMoveSub": "Ο φάκελος «%hs» δεν μπορεί να μετακινηθεί στο «%hs»: ο ένας περιέχει τον άλλο.",
        "Initialising": "Προετοιμασία",
        "InstallSystem": "Εγκατάσταση των προγραμμάτων ZAPH",
        "PostInstallCheck": "Έλεγχος της εγκατάστασης",
        "InstallComponents": "Εγκατάσταση των δεδομένων",
        "WasAbandoned": "Η εγκατάσταση εγκαταλείφθηκε.",
        "NoUpgrade": "Η εγκατεστημένη έκδοση είναι ενημερωμένη· δεν χρειάζεται αναβάθμιση.",
        "MadeBackup": "Έχετε δημιουργήσει αντίγραφο ασφαλείας των δεδομένων ZAPH;",
        "AfterBackup": "Δημιουργήστε αντίγραφο ασφαλείας των δεδομένων σας και ξεκινήστε ξανά την εγκατάσταση.",
        "InUse": "Το ZAPH χρησιμοποιείται. Κλείστε όλα τα προγράμματα ZAPH και πατήστε OK.",
        "WarnNotAdmin": "Δεν είστε διαχειριστής αυτού του υπολογιστή· τα προγράμματα δεν μπορούν να ενημερωθούν.",
        "CannotInstallPre": "Τα απαιτούμενα στοιχεία συστήματος δεν μπορούν να εγκατασταθούν σε αυτόν τον υπολογιστή.",
        "FailInstallPre": "Δεν ήταν δυνατή η εγκατάσταση των απαιτούμενων στοιχείων συστήματος.",
        "Reboot": "Επανεκκινήστε τον υπολογιστή για να ολοκληρωθεί η εγκατάσταση.",
        "Success": "Το ZAPH εγκαταστάθηκε με επιτυχία.",
        "FailLoadMSI": "Δεν ήταν δυνατή η φόρτωση του Windows Installer.",
        "UninstallFail": "Δεν ήταν δυνατή η κατάργηση της προηγούμενης έκδοσης του ZAPH.",
        "WasCancelled": "Η εγκατάσταση ακυρώθηκε.",
        "UpgradeServerFirst": "Πρόκειται για εγκατάσταση πελάτη. Αναβαθμίστε πρώτα τον διακομιστή.",
        "ShouldUpgradeV11": "Εγκαταστήστε το service pack του Microsoft .NET Framework 1.1.",
        "MustBeAdmin": "Πρέπει να είστε διαχειριστής αυτού του υπολογιστή για να συνεχίσετε.",
        "AllowPreUpgrade": "Πρώτα θα εγκατασταθούν τα ακόλουθα στοιχεία συστήματος:",
        "AllowUpdateMSI": "Ο Windows Installer πρέπει να ενημερωθεί. Συνέχεια;",
        "FailInstallMSI": "Δεν ήταν δυνατή η ενημέρωση του Windows Installer.",
    },
    "PL": {
        "Caption": "%s Instalacja ZAPH [%hs]",
        "Organisation": "Ombrant",
        "Header": "Instalacja i aktualizacja ZAPH",
        "Branding": "Ombrant ZAPH",
        "CancelButton": "Anuluj",
        "ProceedButton": "Dalej",
        "ConfirmCancel": "Czy na pewno chcesz przerwać instalację?",
        "SelectLanguage": "Wybierz języki do zainstalowania",
        "LanguageSelection": "Wybierz języki ZAPH, a następnie kliknij Dalej.",
        "DownloadFile": "Pobieranie „%hs” z „%hs”...",
        "FailFile": "Nie można pobrać pliku „%hs” z „%hs”.",
        "WorkingOffLine": "Brak połączenia z Internetem.|Połącz się i uruchom instalację ponownie.",
        "InvalidValue": "Brak ustawienia „%s” w pliku ustawień lub jest ono nieprawidłowe.",
        "ErrorOccurred": "Wystąpił błąd:|%s",
        "PleaseWait": "%s - proszę czekać...",
        "NoInstallation": "W „%hs” nie znaleziono prawidłowej instalacji ZAPH.",
        "CannotMove": "Nie można przenieść folderu „%hs” do „%hs”.",
        "HasMoved": "Instalację przeniesiono z „%hs” do „%hs”.",
        "CannotCopy": "Nie można skopiować folderu „%hs” do „%hs”.",
        "CannotMoveSub": "Folderu „%hs” nie można przenieść do „%hs”: jeden zawiera drugi.",
        "Initialising": "Inicjowanie",
        "InstallSystem": "Instalowanie programów ZAPH",
        "PostInstallCheck": "Sprawdzanie instalacji",
        "InstallComponents": "Instalowanie danych",
        "WasAbandoned": "Instalacja została przerwana.",
        "NoUpgrade": "Zainstalowana wersja jest aktualna; aktualizacja nie jest potrzebna.",
        "MadeBackup": "Czy wykonano kopię zapasową danych ZAPH?",
        "AfterBackup": "Wykonaj kopię zapasową danych, a następnie uruchom instalację ponownie.",
        "InUse": "ZAPH jest używany. Zamknij wszystkie programy ZAPH, a następnie kliknij OK.",
        "WarnNotAdmin": "Nie jesteś administratorem tego komputera; programów nie można zaktualizować.",
        "CannotInstallPre": "Wymaganych składników systemu nie można zainstalować na tym komputerze.",
        "FailInstallPre": "Nie udało się zainstalować wymaganych składników systemu.",
        "Reboot": "Uruchom ponownie komputer, aby zakończyć instalację.",
        "Success": "ZAPH został pomyślnie zainstalowany.",
        "FailLoadMSI": "Nie można załadować Instalatora Windows.",
        "UninstallFail": "Nie można usunąć wcześniejszej wersji ZAPH.",
        "WasCancelled": "Instalacja została anulowana.",
        "UpgradeServerFirst": "To jest instalacja klienta. Najpierw zaktualizuj serwer.",
        "ShouldUpgradeV11": "Zainstaluj dodatek Service Pack do Microsoft .NET Framework 1.1.",
        "MustBeAdmin": "Aby kontynuować, musisz być administratorem tego komputera.",
        "AllowPreUpgrade": "Najpierw zostaną zainstalowane następujące składniki systemu:",
        "AllowUpdateMSI": "Instalator Windows musi zostać zaktualizowany. Kontynuować?",
        "FailInstallMSI": "Nie udało się zaktualizować Instalatora Windows.",
    },
}


def packed(name):
    """The name a file travels under: .zip, or .zsi for databases of the
    non-.NET edition; archives and documents travel as they are."""
    lower = name.lower()
    if lower[-4:] in (".zip", ".zsi", ".pdf"):
        return name
    if lower.endswith(".mdb") and not EDITION_DOTNET:
        return name + ".zsi"
    return name + ".zip"


def source_names():
    """Packed source names of the component lists, for every language."""
    names = []
    for line in COMPONENTS + ADDITIONAL:
        if line.startswith("#"):
            continue
        name = line.split("=", 1)[0].strip()
        for lang in LANGUAGES:
            source = packed(name).replace("<Lang>", lang, 1).replace("<MS>", MEMBER_STATE, 1)
            if source not in names:
                names.append(source)
    return names


def build(overrides=None):
    """The settings file's text; overrides replace settings by key."""
    overrides = overrides or {}
    lines = ["[Settings]"]
    for key, value in SETTINGS:
        value = overrides.get(key, value)
        lines.append(key if value is None else "%s=%s" % (key, value))

    lines += ["", "[Components]"] + COMPONENTS
    lines += ["", "[Additional]"] + ADDITIONAL

    lines += ["", "[CheckSums]", "; relative source name=checksum (written by the release tool fwchecksums)"]

    keys = list(LABELS["EN"].keys())
    for lang in LANGUAGES:
        labels = LABELS[lang]
        missing = [k for k in keys if k not in labels]
        if missing:
            sys.exit("labels of %s lack %s" % (lang, ", ".join(missing)))
        lines += ["", "[Labels_%s]" % lang]
        lines += ["%s=%s" % (k, labels[k]) for k in keys]
    lines.append("")
    return "\r\n".join(lines)


def write(out, overrides=None):
    with open(out, "wb") as f:
        f.write(b"\xff\xfe" + build(overrides).encode("utf-16-le"))


def main():
    out = os.path.join(HERE, "Zaph.ini")
    write(out)
    print("wrote", out)


if __name__ == "__main__":
    main()
