<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>AboutDialog</name>
    <message>
        <source>About...</source>
        <translation>Über...</translation>
    </message>
    <message>
        <source>VorelServer</source>
        <translation>VorelServer</translation>
    </message>
    <message>
        <source>version</source>
        <translation>Version</translation>
    </message>
    <message>
        <source>Copyright</source>
        <translation>Copyright</translation>
    </message>
    <message>
        <source>Build</source>
        <translation>Build</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>version %1</source>
        <translation>Version %1</translation>
    </message>
    <message>
        <source>Build by: %1 %2</source>
        <translation>Erstellt: %1 %2</translation>
    </message>
</context>
<context>
    <name>PActions</name>
    <message>
        <source>Hide</source>
        <translation>Ausblenden</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Starten</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Stoppen</translation>
    </message>
    <message>
        <source>Show</source>
        <translation>Anzeigen</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>About</source>
        <translation>Über</translation>
    </message>
</context>
<context>
    <name>PNetServer</name>
    <message>
        <source>Network</source>
        <translation>Netzwerk</translation>
    </message>
</context>
<context>
    <name>PSerialServer</name>
    <message>
        <source>Usb HA-N60/62 (%1)</source>
        <translation>USB-Ladestation HA-N60/62 (%1)</translation>
    </message>
</context>
<context>
    <name>PSession</name>
    <message>
        <source>Connection is established</source>
        <translation>Verbindung hergestellt</translation>
    </message>
    <message>
        <source>Session opened.</source>
        <translation>Sitzung geöffnet.</translation>
    </message>
    <message>
        <source>Mode:</source>
        <translation>Modus:</translation>
    </message>
    <message>
        <source>Session closed.</source>
        <translation>Sitzung geschlossen.</translation>
    </message>
    <message>
        <source>Stopping port</source>
        <translation>Port wird geschlossen</translation>
    </message>
    <message>
        <source>[DT-930 mode]</source>
        <translation>[DT-930-Modus]</translation>
    </message>
    <message>
        <source>Waiting port</source>
        <translation>Warten auf den Port</translation>
    </message>
</context>
<context>
    <name>PSqlList</name>
    <message>
        <source>Convert file %1 to table %2</source>
        <translation>Datei %1 in Tabelle %2 umwandeln</translation>
    </message>
    <message>
        <source>Convert file %1 to table V3 %2</source>
        <translation>Datei %1 in V3-Tabelle %2 umwandeln</translation>
    </message>
    <message>
        <source>Part 1. Convert file %1 to temp table</source>
        <translation>Teil 1. Datei %1 in temporäre Tabelle umwandeln</translation>
    </message>
    <message>
        <source>Part 2. Convert temp table to V3 table %2</source>
        <translation>Teil 2. Temporäre Tabelle in V3-Tabelle %2 umwandeln</translation>
    </message>
    <message>
        <source>Convert file %1 to table V4 %2</source>
        <translation>Datei %1 in V4-Tabelle %2 umwandeln</translation>
    </message>
    <message>
        <source>Convert table V4 %1 to file %2</source>
        <translation>V4-Tabelle %1 in Datei %2 umwandeln</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>VorelServer version: %1</source>
        <translation>VorelServer Version: %1</translation>
    </message>
    <message>
        <source>Debug started</source>
        <translation>Protokoll gestartet</translation>
    </message>
    <message>
        <source>Debug stopped</source>
        <translation>Protokoll beendet</translation>
    </message>
    <message>
        <source>Session:</source>
        <translation>Sitzung:</translation>
    </message>
    <message>
        <source>Remove temporary file %1</source>
        <translation>Temporäre Datei %1 löschen</translation>
    </message>
</context>
<context>
    <name>SetupDialog</name>
    <message>
        <source>VorelServer setup</source>
        <translation>VorelServer-Einstellungen</translation>
    </message>
    <message>
        <source>Network</source>
        <translation>Netzwerk</translation>
    </message>
    <message>
        <source>Enable network connections</source>
        <translation>Netzwerkverbindungen zulassen</translation>
    </message>
    <message>
        <source>Network port:</source>
        <translation>Netzwerkport:</translation>
    </message>
    <message>
        <source>Bluetooth</source>
        <translation>Bluetooth</translation>
    </message>
    <message>
        <source>Enable bluetooth connections</source>
        <translation>Bluetooth-Verbindungen zulassen</translation>
    </message>
    <message>
        <source>BT device:</source>
        <translation>BT-Gerät:</translation>
    </message>
    <message>
        <source>DEVICE</source>
        <translation>GERÄT</translation>
    </message>
    <message>
        <source>Discovery:</source>
        <translation>Sichtbarkeit:</translation>
    </message>
    <message>
        <source>DISABLE</source>
        <translation>AUS</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Starten</translation>
    </message>
    <message>
        <source>Infrared/USB</source>
        <translation>Infrarot/USB</translation>
    </message>
    <message>
        <source>Enable Irda normal mode</source>
        <translation>Irda im Normalmodus zulassen</translation>
    </message>
    <message>
        <source>Enable Irda ircomm mode</source>
        <translation>Irda im IrCOMM-Modus zulassen</translation>
    </message>
    <message>
        <source>Enable Casio HA-N60/62 cradle</source>
        <translation>Casio-Ladestation HA-N60/62 zulassen</translation>
    </message>
    <message>
        <source>Data tables</source>
        <translation>Datentabellen</translation>
    </message>
    <message>
        <source>Tables charset:</source>
        <translation>Zeichensatz der Tabellen:</translation>
    </message>
    <message>
        <source>Delimeter code:</source>
        <translation>Code des Trennzeichens:</translation>
    </message>
    <message>
        <source>---</source>
        <translation>---</translation>
    </message>
    <message>
        <source>Server</source>
        <translation>Server</translation>
    </message>
    <message>
        <source>Program language:</source>
        <translation>Sprache des Programms:</translation>
    </message>
    <message>
        <source>Run the server at startup</source>
        <translation>Server beim Programmstart starten</translation>
    </message>
    <message>
        <source>Run minimized</source>
        <translation>Minimiert starten</translation>
    </message>
    <message>
        <source>Minimize to tray</source>
        <translation>In den Infobereich minimieren</translation>
    </message>
    <message>
        <source>Create a debug log</source>
        <translation>Protokoll schreiben</translation>
    </message>
    <message>
        <source>Timeout:</source>
        <translation>Zeitlimit:</translation>
    </message>
    <message>
        <source>Terminal</source>
        <translation>Terminal</translation>
    </message>
    <message>
        <source>Program charset:</source>
        <translation>Zeichensatz des Programms:</translation>
    </message>
    <message>
        <source>Confirmation</source>
        <translation>Bestätigung</translation>
    </message>
    <message>
        <source>Save settings?</source>
        <translation>Einstellungen speichern?</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>Unable to save the settings file %1</source>
        <translation>Die Einstellungsdatei %1 kann nicht gespeichert werden</translation>
    </message>
    <message>
        <source>Enable discovery?</source>
        <translation>Sichtbarkeit einschalten?</translation>
    </message>
    <message>
        <source>Unable to change discovery state</source>
        <translation>Die Sichtbarkeit kann nicht geändert werden</translation>
    </message>
    <message>
        <source>Message</source>
        <translation>Meldung</translation>
    </message>
    <message>
        <source>Bluetooth discovery is enabled. Start searching bluetooth devices on the terminal and save settings. Then click OK to disable the discovery.</source>
        <translation>Die Bluetooth-Sichtbarkeit ist eingeschaltet. Suchen Sie am Terminal nach Bluetooth-Geräten und speichern Sie die Einstellungen. Klicken Sie dann auf OK, um die Sichtbarkeit auszuschalten.</translation>
    </message>
    <message>
        <source>not found</source>
        <translation>nicht gefunden</translation>
    </message>
    <message>
        <source>Enabled</source>
        <translation>Ein</translation>
    </message>
    <message>
        <source>Disabled</source>
        <translation>Aus</translation>
    </message>
</context>
<context>
    <name>VorelServer</name>
    <message>
        <source>VorelServer version %1</source>
        <translation>VorelServer Version %1</translation>
    </message>
    <message>
        <source>Server is</source>
        <translation>Server ist</translation>
    </message>
    <message>
        <source>stopped</source>
        <translation>gestoppt</translation>
    </message>
    <message>
        <source>started.</source>
        <translation>gestartet.</translation>
    </message>
    <message>
        <source>Network</source>
        <translation>Netzwerk</translation>
    </message>
    <message>
        <source>(port: %1).</source>
        <translation>(Port: %1).</translation>
    </message>
    <message>
        <source>Bluetooth</source>
        <translation>Bluetooth</translation>
    </message>
    <message>
        <source>Irda</source>
        <translation>Irda</translation>
    </message>
    <message>
        <source>(Normal).</source>
        <translation>(Normal).</translation>
    </message>
    <message>
        <source>(Ircomm).</source>
        <translation>(Ircomm).</translation>
    </message>
    <message>
        <source>USB</source>
        <translation>USB</translation>
    </message>
    <message>
        <source>(HA-N60).</source>
        <translation>(HA-N60).</translation>
    </message>
    <message>
        <source>Active connections: %1</source>
        <translation>Aktive Verbindungen: %1</translation>
    </message>
    <message>
        <source>Unable to start the network server on port %1</source>
        <translation>Der Netzwerkserver kann auf Port %1 nicht gestartet werden</translation>
    </message>
    <message>
        <source>Unable to start the bluetooth server</source>
        <translation>Der Bluetooth-Server kann nicht gestartet werden</translation>
    </message>
    <message>
        <source>Unable to start the irda server</source>
        <translation>Der Irda-Server kann nicht gestartet werden</translation>
    </message>
    <message>
        <source>Unable to start the irda ircomm server</source>
        <translation>Der Irda-IrCOMM-Server kann nicht gestartet werden</translation>
    </message>
    <message>
        <source>Unable to start the serial server</source>
        <translation>Der serielle Server kann nicht gestartet werden</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>Confirmation</source>
        <translation>Bestätigung</translation>
    </message>
    <message>
        <source>Stop the server?</source>
        <translation>Server stoppen?</translation>
    </message>
    <message>
        <source>Server is running. Stop and exit the VorelServer?</source>
        <translation>Der Server läuft. Stoppen und VorelServer beenden?</translation>
    </message>
    <message>
        <source>Exit the VorelServer?</source>
        <translation>VorelServer beenden?</translation>
    </message>
</context>
<context>
    <name>VorelServerClass</name>
    <message>
        <source>VorelServer</source>
        <translation>VorelServer</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Starten</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Stoppen</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>About...</source>
        <translation>Über...</translation>
    </message>
</context>
</TS>
