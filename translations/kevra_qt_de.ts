<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
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
