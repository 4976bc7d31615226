<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>DemoWindow</name>
    <message>
        <source>KEVRA Task List demo</source>
        <translation>KEVRA-Aufgabenliste – Demo</translation>
    </message>
    <message>
        <source>Who is asking</source>
        <translation>Wer fragt</translation>
    </message>
    <message>
        <source>empty: the default catalogue in $XDG_DATA_HOME/kevra/tasks.db</source>
        <translation>leer: der Standardkatalog in $XDG_DATA_HOME/kevra/tasks.db</translation>
    </message>
    <message>
        <source>A JSON or SQLite catalogue file, a PostgreSQL server, or empty for the default catalogue</source>
        <translation>Eine JSON- oder SQLite-Katalogdatei, ein PostgreSQL-Server oder leer für den Standardkatalog</translation>
    </message>
    <message>
        <source>&amp;Load</source>
        <translation>&amp;Laden</translation>
    </message>
    <message>
        <source>&amp;Restore saved task</source>
        <translation>Auswahl &amp;wiederherstellen</translation>
    </message>
    <message>
        <source>Opens the group, list item and task saved at the last start (SelectTask)</source>
        <translation>Öffnet die Gruppe, den Listeneintrag und die Aufgabe, die beim letzten Start gespeichert wurden (SelectTask)</translation>
    </message>
    <message>
        <source>&amp;Catalogue (MachineName):</source>
        <translation>&amp;Katalog (MachineName):</translation>
    </message>
    <message>
        <source>&amp;User number:</source>
        <translation>&amp;Benutzernummer:</translation>
    </message>
    <message>
        <source>&amp;Brand:</source>
        <translation>&amp;Marke:</translation>
    </message>
    <message>
        <source>&amp;Facility:</source>
        <translation>&amp;Standort:</translation>
    </message>
    <message>
        <source>&amp;Application:</source>
        <translation>&amp;Anwendung:</translation>
    </message>
    <message>
        <source>StartTask events</source>
        <translation>StartTask-Ereignisse</translation>
    </message>
    <message>
        <source>Double-click a task, or press Enter on it, to see what the host receives.</source>
        <translation>Doppelklicken Sie auf eine Aufgabe oder drücken Sie auf ihr die Eingabetaste, um zu sehen, was der Host erhält.</translation>
    </message>
    <message>
        <source>&amp;Open URL</source>
        <translation>URL ö&amp;ffnen</translation>
    </message>
    <message>
        <source>Opens the last task&apos;s URL in the desktop&apos;s browser</source>
        <translation>Öffnet die URL der letzten Aufgabe im Browser des Desktops</translation>
    </message>
    <message>
        <source>the default catalogue</source>
        <translation>dem Standardkatalog</translation>
    </message>
    <message>
        <source>Loaded from %1</source>
        <translation>Geladen aus %1</translation>
    </message>
    <message>
        <source>StartTask  id %1  URL %2  parameters %3</source>
        <translation>StartTask  Nr. %1  URL %2  Parameter %3</translation>
    </message>
    <message>
        <source>(none)</source>
        <translation>(keine)</translation>
    </message>
    <message>
        <source>Opens %1 in the desktop&apos;s browser</source>
        <translation>Öffnet %1 im Browser des Desktops</translation>
    </message>
    <message>
        <source>Not opened: &quot;%1&quot; is not a complete address; the catalogue should give a URL that starts with https://</source>
        <translation>Nicht geöffnet: „%1“ ist keine vollständige Adresse; der Katalog sollte eine URL angeben, die mit https:// beginnt</translation>
    </message>
    <message>
        <source>Not opened: only http, https and mailto addresses go to the browser, and &quot;%1&quot; is a %2 address</source>
        <translation>Nicht geöffnet: Nur http-, https- und mailto-Adressen gehen an den Browser, und „%1“ ist eine %2-Adresse</translation>
    </message>
    <message>
        <source>Opened %1 in the desktop&apos;s browser</source>
        <translation>%1 im Browser des Desktops geöffnet</translation>
    </message>
    <message>
        <source>The desktop could not open %1: set a default web browser (for example with xdg-settings set default-web-browser)</source>
        <translation>Der Desktop konnte %1 nicht öffnen: Legen Sie einen Standard-Webbrowser fest (zum Beispiel mit xdg-settings set default-web-browser)</translation>
    </message>
    <message>
        <source>Find a task (Ctrl+K)</source>
        <translation>Aufgabe suchen (Strg+K)</translation>
    </message>
    <message>
        <source>Favourites and history: %1</source>
        <translation>Favoriten und Verlauf: %1</translation>
    </message>
</context>
<context>
    <name>KevraDemo</name>
    <message>
        <source>the window could not be grabbed</source>
        <translation>das Fenster konnte nicht aufgenommen werden</translation>
    </message>
    <message>
        <source>cannot write the screenshot to %1: %2</source>
        <translation>das Bildschirmfoto kann nicht nach %1 geschrieben werden: %2</translation>
    </message>
    <message>
        <source>screenshot written to %1</source>
        <translation>Bildschirmfoto nach %1 geschrieben</translation>
    </message>
    <message>
        <source>Desktop demo of the KEVRA task list control. Loads the catalogue that the fields name (by default the per-user default catalogue, made with &apos;kevra-catalog init --sample&apos;) and logs the tasks the user starts.</source>
        <translation>Desktop-Demo des KEVRA-Aufgabenlisten-Steuerelements. Lädt den Katalog, den die Felder nennen (standardmäßig den Standardkatalog des Benutzers, angelegt mit &apos;kevra-catalog init --sample&apos;), und protokolliert die Aufgaben, die der Benutzer startet.</translation>
    </message>
    <message>
        <source>Catalogue to load: a .json or .db file, a PostgreSQL server, or empty for the default catalogue.</source>
        <translation>Zu ladender Katalog: eine .json- oder .db-Datei, ein PostgreSQL-Server oder leer für den Standardkatalog.</translation>
    </message>
    <message>
        <source>NAME</source>
        <translation>NAME</translation>
    </message>
    <message>
        <source>User number (default 1001).</source>
        <translation>Benutzernummer (Standard 1001).</translation>
    </message>
    <message>
        <source>N</source>
        <translation>N</translation>
    </message>
    <message>
        <source>Brand (default Meridane Grand).</source>
        <translation>Marke (Standard Meridane Grand).</translation>
    </message>
    <message>
        <source>TEXT</source>
        <translation>TEXT</translation>
    </message>
    <message>
        <source>Facility (default LON01).</source>
        <translation>Standort (Standard LON01).</translation>
    </message>
    <message>
        <source>Application (default 1).</source>
        <translation>Anwendung (Standard 1).</translation>
    </message>
    <message>
        <source>Load, show some tasks, save a PNG picture of the window to FILE and exit.</source>
        <translation>Laden, einige Aufgaben zeigen, ein PNG-Bild des Fensters nach DATEI speichern und beenden.</translation>
    </message>
    <message>
        <source>FILE</source>
        <translation>DATEI</translation>
    </message>
    <message numerus="yes">
        <source>the control reported %n error(s), shown above</source>
        <translation>
            <numerusform>das Steuerelement hat %n Fehler gemeldet, siehe oben</numerusform>
            <numerusform>das Steuerelement hat %n Fehler gemeldet, siehe oben</numerusform>
        </translation>
    </message>
    <message>
        <source>Try &apos;kevra-demo --help&apos; for more information.</source>
        <translation>Mehr dazu mit &apos;kevra-demo --help&apos;.</translation>
    </message>
    <message>
        <source>unexpected argument &apos;%1&apos; (the demo takes options only)</source>
        <translation>unerwartetes Argument &apos;%1&apos; (die Demo nimmt nur Optionen)</translation>
    </message>
    <message>
        <source>there is no display to open the window on (neither DISPLAY nor WAYLAND_DISPLAY is set).
Run it in a desktop session, or have it save a picture of the window instead: kevra-demo --screenshot demo.png</source>
        <translation>es gibt keine Anzeige, auf der sich das Fenster öffnen ließe (weder DISPLAY noch WAYLAND_DISPLAY ist gesetzt).
Starten Sie die Demo in einer Desktop-Sitzung, oder lassen Sie sie stattdessen ein Bild des Fensters speichern: kevra-demo --screenshot demo.png</translation>
    </message>
    <message>
        <source>Type TEXT into the search field after loading; with --screenshot the picture shows what it finds.</source>
        <translation>Nach dem Laden TEXT in das Suchfeld eingeben; mit --screenshot zeigt das Bild, was die Suche findet.</translation>
    </message>
</context>
</TS>
