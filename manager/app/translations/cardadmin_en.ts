<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>CardManager</name>
    <message>
        <source>Správce karty</source>
        <translation>Card Manager</translation>
    </message>
    <message>
        <source>&lt;li&gt;&lt;b&gt;Nejsou přečtena data z karty. Vložte kartu do čtečky a stiskněte &lt;a href=&quot;reload&quot;&gt;obnovit.&lt;/b&gt;&lt;/a&gt;&lt;/li&gt;</source>
        <translation>&lt;li&gt;&lt;b&gt;No data read from card. Insert card into reader and press &lt;a href=&quot;reload&quot;&gt;refresh.&lt;/b&gt;&lt;/a&gt;&lt;/li&gt;</translation>
    </message>
    <message>
        <source>English version</source>
        <translation>Czech version (Česká verze)</translation>
    </message>
    <message>
        <source>Změna PIN...</source>
        <translation>PIN change...</translation>
    </message>
    <message>
        <source>Změna PUK...</source>
        <translation>PUK change...</translation>
    </message>
    <message>
        <source>Odblokování PIN...</source>
        <translation>PIN unblock...</translation>
    </message>
    <message>
        <source>Zobrazit diagnostiku</source>
        <translation>Show diagnostics</translation>
    </message>
    <message>
        <source>Uložit diagnostiku...</source>
        <translation>Save diagnostics...</translation>
    </message>
    <message>
        <source>Tisk...</source>
        <translation>Print...</translation>
    </message>
    <message>
        <source>Nastavení tisku...</source>
        <translation>Print setup...</translation>
    </message>
    <message>
        <source>Expertní mód</source>
        <translation>Expert mode</translation>
    </message>
    <message>
        <source>Konec</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>Soubor</source>
        <translation>File</translation>
    </message>
    <message>
        <source>Stavový řádek</source>
        <translation>Status bar</translation>
    </message>
    <message>
        <source>Obnovit</source>
        <translation>Refresh</translation>
    </message>
    <message>
        <source>Zobrazit</source>
        <translation>View</translation>
    </message>
    <message>
        <source>Více informací</source>
        <translation>More information</translation>
    </message>
    <message>
        <source>Export do souboru...</source>
        <translation>Export to file...</translation>
    </message>
    <message>
        <source>Import ze souboru...</source>
        <translation>Import from file...</translation>
    </message>
    <message>
        <source>Smazat</source>
        <translation>Delete</translation>
    </message>
    <message>
        <source>Certifikát</source>
        <translation>Certificate</translation>
    </message>
    <message>
        <source>Export klíče...</source>
        <translation>Export key...</translation>
    </message>
    <message>
        <source>Import pfx...</source>
        <translation>Import pfx...</translation>
    </message>
    <message>
        <source>Testovat</source>
        <translation>Test</translation>
    </message>
    <message>
        <source>Klíč</source>
        <translation>Key</translation>
    </message>
    <message>
        <source>Návrhy řešení</source>
        <translation>Wizard</translation>
    </message>
    <message>
        <source>O programu</source>
        <translation>About</translation>
    </message>
    <message>
        <source>Nápověda</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>Hotovo</source>
        <translation>Done</translation>
    </message>
    <message>
        <source>Chyba</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;Knihovnu PKCS#11 %1 se nepodařilo načíst.</source>
        <translation>&lt;p align=&apos;center&apos;&gt;The PKCS#11 library %1 could not be loaded.</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;Knihovna nebyla nalezena nebo ji nelze zavést.</source>
        <translation>&lt;p align=&apos;center&apos;&gt;The library was not found or cannot be loaded.</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;Knihovnu PKCS#11 %1 se nepodařilo inicializovat (C_Initialize vrátila 0x%2).</source>
        <translation>&lt;p align=&apos;center&apos;&gt;The PKCS#11 library %1 could not be initialised (C_Initialize returned 0x%2).</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;Zkontrolujte, zda běží služba čipových karet PC/SC (pcscd).</source>
        <translation>&lt;p align=&apos;center&apos;&gt;Make sure that the PC/SC smart card service (pcscd) is running.</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;Jazykovou verzi se nepodařilo změnit: soubor %1 nelze zapsat.</source>
        <translation>&lt;p align=&apos;center&apos;&gt;The language could not be changed: the file %1 cannot be written.</translation>
    </message>
    <message>
        <source>Information</source>
        <translation>Informace</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;Language change will take place next time you start this application.</source>
        <translation>&lt;p align=&apos;center&apos;&gt;Změna jazykové verze se projeví po restartování aplikace.</translation>
    </message>
    <message>
        <source>&lt;br/&gt;Nebyla nalezena čtečka čipových karet. Ujistěte se prosím, že podpora PC/SC je správně nastavena. Zkontrolujte také správné připojení čtečky čipových karet.</source>
        <translation>&lt;br/&gt;No smart card reader found. Make sure that you have configured right your PC/SC support modules. Also make sure that smart card reader is connected to computer.</translation>
    </message>
    <message>
        <source>Exportování certifikátu</source>
        <translation>Export certificate</translation>
    </message>
    <message>
        <source>Exportování klíče</source>
        <translation>Export key</translation>
    </message>
    <message>
        <source>Úspěch</source>
        <translation>Success</translation>
    </message>
    <message>
        <source>Diagnostické informace byly úspěšně uloženy do schránky.</source>
        <translation>Diagnostic information successfully saved into clipboard.</translation>
    </message>
</context>
</TS>
