<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>kevra::qt::KevraSearchField</name>
    <message>
        <source>group</source>
        <translation>Gruppe</translation>
    </message>
    <message>
        <source>list item</source>
        <translation>Listeneintrag</translation>
    </message>
    <message>
        <source>task</source>
        <translation>Aufgabe</translation>
    </message>
    <message>
        <source>link</source>
        <translation>Verknüpfung</translation>
    </message>
    <message>
        <source>in %1</source>
        <translation>in %1</translation>
    </message>
    <message>
        <source>pinned</source>
        <translation>angeheftet</translation>
    </message>
    <message>
        <source>Find a task</source>
        <translation>Aufgabe suchen</translation>
    </message>
    <message>
        <source>Tasks found</source>
        <translation>Gefundene Aufgaben</translation>
    </message>
    <message>
        <source>Type part of a task&apos;s name. Up and Down choose, Enter starts a link or shows the entry, Alt+Enter only shows it, Ctrl+D pins or unpins it.</source>
        <translation>Geben Sie einen Teil des Aufgabennamens ein. Auf und Ab wählen, Eingabe startet eine Verknüpfung oder zeigt den Eintrag, Alt+Eingabe zeigt ihn nur, Strg+D heftet ihn an oder löst ihn.</translation>
    </message>
    <message>
        <source>Favourites</source>
        <translation>Favoriten</translation>
    </message>
    <message>
        <source>Recent</source>
        <translation>Zuletzt gestartet</translation>
    </message>
    <message numerus="yes">
        <source>%n favourite or recent task(s)</source>
        <translation>
            <numerusform>%n Favorit oder zuletzt gestartete Aufgabe</numerusform>
            <numerusform>%n Favoriten oder zuletzt gestartete Aufgaben</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n result(s)</source>
        <translation>
            <numerusform>%n Ergebnis</numerusform>
            <numerusform>%n Ergebnisse</numerusform>
        </translation>
    </message>
    <message>
        <source>A launch could not be kept in the history: %1</source>
        <translation>Ein Start konnte nicht im Verlauf vermerkt werden: %1</translation>
    </message>
</context>
<context>
    <name>kevra::qt::KevraTaskListWidget</name>
    <message>
        <source>Task list</source>
        <translation>Aufgabenliste</translation>
    </message>
</context>
<context>
    <name>kevra::qt::ListBarView</name>
    <message>
        <source>Open task group</source>
        <translation>Geöffnete Aufgabengruppe</translation>
    </message>
    <message>
        <source>Task group; press to open</source>
        <translation>Aufgabengruppe; zum Öffnen drücken</translation>
    </message>
    <message>
        <source>Task groups</source>
        <translation>Aufgabengruppen</translation>
    </message>
    <message>
        <source>Items of %1</source>
        <translation>Einträge von %1</translation>
    </message>
</context>
<context>
    <name>kevra::qt::TaskTreeModel</name>
    <message>
        <source>Task link; press Enter to start</source>
        <translation>Aufgabenlink; mit der Eingabetaste starten</translation>
    </message>
    <message>
        <source>Tasks</source>
        <translation>Aufgaben</translation>
    </message>
</context>
<context>
    <name>kevra::qt::TaskTreeView</name>
    <message>
        <source>Tasks</source>
        <translation>Aufgaben</translation>
    </message>
</context>
</TS>
