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
        <translation>&lt;p align=&apos;center&apos;&gt;The PKCS#11 library %1 could not be initialized (C_Initialize returned 0x%2).</translation>
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
        <source>&lt;p align=&apos;center&apos;&gt;Změna jazykové verze se projeví po restartování aplikace.&lt;/p&gt;&lt;p align=&apos;center&apos;&gt;Language change will take place next time you start this application.</source>
        <translation>&lt;p align=&apos;center&apos;&gt;Language change will take place next time you start this application.&lt;/p&gt;&lt;p align=&apos;center&apos;&gt;Změna jazykové verze se projeví po restartování aplikace.</translation>
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
    <message>
        <source>neznámo</source>
        <translation>unknown</translation>
    </message>
    <message>
        <source>Privátní i veřejný klíč</source>
        <translation>Private and public key</translation>
    </message>
    <message>
        <source>Pouze privátní klíč</source>
        <translation>Only private key</translation>
    </message>
    <message>
        <source>Pouze veřejný klíč</source>
        <translation>Only public key</translation>
    </message>
    <message>
        <source>Uložit diagnostiku</source>
        <translation>Save diagnostics</translation>
    </message>
    <message>
        <source>Textové soubory (*.txt)</source>
        <translation>Text files (*.txt)</translation>
    </message>
    <message>
        <source>Diagnostické informace byly úspěšně uloženy.</source>
        <translation>Diagnostic information was successfully saved.</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;Diagnostické informace nebyly uloženy. Zkontrolujte, zda máte dostatečná oprávnění k zápisu na požadované místo na disku.</source>
        <translation>&lt;p align=&apos;center&apos;&gt;Diagnostic information was not exported. Please make sure you have rights to write to selected location on disc.</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;Během načítání se vyskytla chyba.</source>
        <translation>&lt;p align=&apos;center&apos;&gt;An error occurred while loading data.</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;Pravděpodobně byla karta odpojena od čtečky.</source>
        <translation>&lt;p align=&apos;center&apos;&gt;Card was probably disconnected from the reader.</translation>
    </message>
    <message>
        <source>&lt;li&gt;&lt;b&gt;Při načítání dat z karty se vyskytla chyba. Doporučuji opětovně načíst data z karty&lt;/b&gt;&lt;/li&gt;</source>
        <translation>&lt;li&gt;&lt;b&gt;An error occurred while loading data. It is suggested to reload data again.&lt;/b&gt;&lt;/li&gt;</translation>
    </message>
    <message>
        <source>&lt;b&gt;Načítání informací o čtečkách&lt;/b&gt;</source>
        <translation>&lt;b&gt;Loading information about smart card readers&lt;/b&gt;</translation>
    </message>
    <message>
        <source>Načítání informací</source>
        <translation>Loading information</translation>
    </message>
    <message>
        <source>Načítání informací o kartě a certifikátech</source>
        <translation>Loading information about card and certificates</translation>
    </message>
    <message>
        <source>&lt;li&gt;Nebyla nalezena žádná karta&lt;/li&gt;</source>
        <translation>&lt;li&gt;No card was found&lt;/li&gt;</translation>
    </message>
    <message>
        <source>&lt;li&gt;Karta rozeznána ve čtečce </source>
        <translation>&lt;li&gt;Card present in reader </translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;&lt;b&gt;Načítání informací o kartě&lt;/b&gt;&lt;/p&gt;&lt;p align=&apos;center&apos;&gt;Čtečka: </source>
        <translation>&lt;p align=&apos;center&apos;&gt;&lt;b&gt;Loading information about card&lt;/b&gt;&lt;/p&gt;&lt;p align=&apos;center&apos;&gt;Reader: </translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;&lt;b&gt;Načítání informací o objektech&lt;/b&gt;&lt;/p&gt;&lt;p align=&apos;center&apos;&gt;Čtečka: </source>
        <translation>&lt;p align=&apos;center&apos;&gt;&lt;b&gt;Loading information about objects&lt;/b&gt;&lt;/p&gt;&lt;p align=&apos;center&apos;&gt;Reader: </translation>
    </message>
    <message>
        <source>Ověření PIN</source>
        <translation>PIN verification</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;&lt;b&gt;Zadejte prosím PIN pro následující kartu:&lt;/b&gt;</source>
        <translation>&lt;p align=&apos;center&apos;&gt;&lt;b&gt;Input PIN for following card:&lt;/b&gt;</translation>
    </message>
    <message>
        <source>&lt;/p&gt;&lt;p align=&apos;center&apos;&gt;Čtečka: </source>
        <translation>&lt;/p&gt;&lt;p align=&apos;center&apos;&gt;Reader: </translation>
    </message>
    <message>
        <source>&lt;/p&gt;&lt;p align=&apos;center&apos;&gt;Číslo karty: </source>
        <translation>&lt;/p&gt;&lt;p align=&apos;center&apos;&gt;Card number: </translation>
    </message>
    <message>
        <source>&lt;/p&gt;&lt;p align=&apos;center&apos;&gt;Zbývající počet pokusů: </source>
        <translation>&lt;/p&gt;&lt;p align=&apos;center&apos;&gt;Remaining attempts: </translation>
    </message>
    <message>
        <source>Upozornění</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;Budou zobrazeny pouze veřejné objekty. Pro přístup k privátním objektům je třeba zadat korektní PIN.</source>
        <translation>&lt;p align=&apos;center&apos;&gt;Only public objects will be shown. You need to input PIN to be able to access private objects as well.</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;PIN musí obsahovat alespoň jednu číslici.</source>
        <translation>&lt;p align=&apos;center&apos;&gt;PIN must contain at least one digit.</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;Byl zadán chybný PIN.</source>
        <translation>&lt;p align=&apos;center&apos;&gt;Wrong PIN was entered.</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;PIN byl zablokován.</source>
        <translation>&lt;p align=&apos;center&apos;&gt;PIN was locked.</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;PIN i PUK karty s číslem &lt;b&gt;</source>
        <translation>&lt;p align=&apos;center&apos;&gt;PIN and PUK of card with number &lt;b&gt;</translation>
    </message>
    <message>
        <source>&lt;/b&gt; ve čtečce &lt;b&gt;</source>
        <translation>&lt;/b&gt; in reader &lt;b&gt;</translation>
    </message>
    <message>
        <source>&lt;/b&gt; jsou zablokovány. Je možné přistupovat pouze k veřejným objektům na kartě.&lt;/p&gt;</source>
        <translation>&lt;/b&gt; are blocked. It is possible to access only public objects on card.&lt;/p&gt;</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;PIN karty s číslem &lt;b&gt;</source>
        <translation>&lt;p align=&apos;center&apos;&gt;PIN of card with number &lt;b&gt;</translation>
    </message>
    <message>
        <source>&lt;/b&gt; je zablokovaný. Dokud PIN neodblokujete, nebude možné přistupovat k privátním objektům na kartě.&lt;/p&gt;</source>
        <translation>&lt;/b&gt; is locked. You need first to unlock this PIN to be able to access private objects on card.&lt;/p&gt;</translation>
    </message>
    <message>
        <source>&lt;li&gt;Certifikátu vydanému &lt;b&gt;%1&lt;/b&gt; pro &lt;b&gt;%2&lt;/b&gt; vypršela platnost. Doporučuji nechat si vystavit nový&lt;/li&gt;</source>
        <translation>&lt;li&gt;Certificate issued by &lt;b&gt;%1&lt;/b&gt; for &lt;b&gt;%2&lt;/b&gt; has expired. We suggest renewing it.&lt;/li&gt;</translation>
    </message>
    <message>
        <source>Načítání dat bylo přerušeno uživatelem. Zjištěné informace jsou pravděpodobně nekompletní a mohou být i zkreslené oproti reálnému stavu. Pro práci s informacemi na kartě doporučuji </source>
        <translation>Loading of data was canceled by user. Gathered information are probably incomplete and can be even different from real state. If you want to work with information on card, we suggest to </translation>
    </message>
    <message>
        <source>&lt;a href=&quot;reload&quot;&gt;načíst kompletní data.&lt;/b&gt;&lt;/a&gt;&lt;/li&gt;</source>
        <translation>&lt;a href=&quot;reload&quot;&gt;load complete data.&lt;/b&gt;&lt;/a&gt;&lt;/li&gt;</translation>
    </message>
    <message>
        <source>&lt;li&gt;Nebyla nalezena žádná čtečka čipových karet&lt;/li&gt;</source>
        <translation>&lt;li&gt;No smart card reader was found&lt;/li&gt;</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;Z důvodu zachování konzistence dat bude nyní aktualizován obsah Správce karty.</source>
        <translation>&lt;p align=&apos;center&apos;&gt;Card manager needs to be refreshed to keep data consistent.</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;Probíhá testování integrity klíčů. Prosím vyčkejte na dokončení operace.
</source>
        <translation>&lt;p align=&apos;center&apos;&gt;Testing keys integrity. Please wait.
</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;Neodpojujte kartu od čtečky čipových karet.</source>
        <translation>&lt;p align=&apos;center&apos;&gt;Do not remove card from the reader.</translation>
    </message>
    <message>
        <source>Informace</source>
        <translation>Information</translation>
    </message>
    <message>
        <source>Klíče jsou v pořádku.</source>
        <translation>Keys are all right.</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;Jeden klíč z dvojice soukromý klíč/veřejný klíč chybí - viz informace &quot;Klíče&quot; v přehledu kontejneru.</source>
        <translation>&lt;p align=&apos;center&apos;&gt;Either private or public key is missing. More info in &quot;Keys&quot; attribute in container overview.</translation>
    </message>
    <message>
        <source>Klíče nejsou v pořádku.</source>
        <translation>Keys are not all right.</translation>
    </message>
    <message>
        <source>Nepodařilo se ověřit integritu klíčů (chyba 0x</source>
        <translation>It is impossible to check keys integrity (error 0x</translation>
    </message>
    <message>
        <source>Import klíče</source>
        <translation>Import key</translation>
    </message>
    <message>
        <source>Privátní klíče (*.pfx)</source>
        <translation>Private keys (*.pfx)</translation>
    </message>
    <message>
        <source>Ověření hesla</source>
        <translation>Password check</translation>
    </message>
    <message>
        <source>Zadejte heslo, které bylo zadáno při exportu privátního klíče:</source>
        <translation>Input password which was set when selected private key was exported:</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;Probíhá import klíče a certifikátu na kartu. Prosím vyčkejte na dokončení operace.&lt;/p&gt;
</source>
        <translation>&lt;p align=&apos;center&apos;&gt;Importing keys and certificate into card. Please wait.&lt;/p&gt;
</translation>
    </message>
    <message>
        <source>Klíč byl úspěšně importován.</source>
        <translation>Key was successfully imported.</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;Klíč nebyl importován. Bylo zadáno nesprávné heslo exportovaného privátního klíče.</source>
        <translation>&lt;p align=&apos;center&apos;&gt;Key was not imported. Wrong password of exported private key.</translation>
    </message>
    <message>
        <source>Klíč nebyl importován (nepodporovaná velikost klíče).</source>
        <translation>Key was not imported (unsupported key size).</translation>
    </message>
    <message>
        <source>Klíč nebyl importován (chyba 0x</source>
        <translation>Key was not imported (error 0x</translation>
    </message>
    <message>
        <source>Import certifikátu</source>
        <translation>Import certificate</translation>
    </message>
    <message>
        <source>Certifikáty (*.cer)</source>
        <translation>Certificates (*.cer)</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;Soubor neobsahuje certifikát ve formátu DER ani PEM.</source>
        <translation>&lt;p align=&apos;center&apos;&gt;The file holds no certificate in DER or PEM form.</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;Certifikát nepatří ke klíči vybraného kontejneru.</source>
        <translation>&lt;p align=&apos;center&apos;&gt;The certificate does not belong to the key of the selected container.</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;Probíhá import certifikátu na kartu. Prosím vyčkejte na dokončení operace.
</source>
        <translation>&lt;p align=&apos;center&apos;&gt;Importing certificate into card. Please wait.</translation>
    </message>
    <message>
        <source>Certifikát nebyl importován (chyba 0x</source>
        <translation>Certificate was not imported (error 0x</translation>
    </message>
    <message>
        <source>Certifikát byl úspěšně importován.</source>
        <translation>Certificate was successfully imported.</translation>
    </message>
    <message>
        <source>Export certifikátu</source>
        <translation>Export certificate</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;Certifikát byl úspěšně exportován do souboru.</source>
        <translation>&lt;p align=&apos;center&apos;&gt;Certificate was successfully exported into a file.</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;Certifikát nebyl exportován. Zkontrolujte, zda máte dostatečná práva pro zápis na zvolené místo na disku.</source>
        <translation>&lt;p align=&apos;center&apos;&gt;Certificate was not exported. Please make sure you have rights to write to selected location on disc.</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;Kontejner nemá veřejný klíč, klíč nelze exportovat.</source>
        <translation>&lt;p align=&apos;center&apos;&gt;The container has no public key: there is no key to export.</translation>
    </message>
    <message>
        <source>Export klíče</source>
        <translation>Export key</translation>
    </message>
    <message>
        <source>Klíče (*.der)</source>
        <translation>Keys (*.der)</translation>
    </message>
    <message>
        <source>Klíč byl úspěšně exportován do souboru.</source>
        <translation>Key was successfully exported into file.</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;Klíč nebyl exportován. Zkontrolujte, zda máte dostatečná práva pro zápis na zvolené místo na disku.</source>
        <translation>&lt;p align=&apos;center&apos;&gt;Key was not exported. Please make sure you have rights to write to selected location on disc.</translation>
    </message>
    <message>
        <source>Požadovaná operace je přístupná pouze v expertním módu.
(Menu: Soubor - Expertní mód)</source>
        <translation>Requested operation is available only in Expert mode.
(Menu: File - Expert mode)</translation>
    </message>
    <message>
        <source>Chcete skutečně smazat vybraný objekt z karty?</source>
        <translation>Do you really want to remove selected object from card?</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;Probíhá mazání objektu/objektů. Prosím vyčkejte na dokončení operace.&lt;/p&gt;
</source>
        <translation>&lt;p align=&apos;center&apos;&gt;Deleting selected object. Please wait.&lt;/p&gt;
</translation>
    </message>
    <message>
        <source>Objekt nebyl smazán (chyba 0x</source>
        <translation>Object was not removed (error 0x</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;Objekt byl úspěšně smazán.</source>
        <translation>&lt;p align=&apos;center&apos;&gt;Object was successfully removed.</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;Neodpojujte kartu od čtečky čipových karet.&lt;/p</source>
        <translation>&lt;p align=&apos;center&apos;&gt;Do not remove card from smart card reader.&lt;/p</translation>
    </message>
    <message>
        <source>PUK karty je zablokován.</source>
        <translation>PUK of selected card is locked.</translation>
    </message>
    <message>
        <source>Ověření PUK</source>
        <translation>PUK verification</translation>
    </message>
    <message>
        <source>Zadejte PUK
Zbývající počet pokusů: </source>
        <translation>Input PUK
Remaining attempts: </translation>
    </message>
    <message>
        <source>Zadejte PIN
Zbývající počet pokusů: </source>
        <translation>Input PIN
Remaining attempts: </translation>
    </message>
    <message>
        <source>Přihlášení ke kartě se nezdařilo (chyba 0x</source>
        <translation>Login to the card failed (error 0x</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;Během operace byla vyjmuta karta ze čtečky.</source>
        <translation>&lt;p align=&apos;center&apos;&gt;The card was removed from the reader during the operation.</translation>
    </message>
    <message>
        <source>Byl zadán chybný PUK.</source>
        <translation>Wrong PUK entered.</translation>
    </message>
    <message>
        <source>Byl zadán chybný PIN.</source>
        <translation>Wrong PIN entered.</translation>
    </message>
    <message>
        <source>PUK byl zablokován.</source>
        <translation>PUK was locked.</translation>
    </message>
    <message>
        <source>PIN byl zablokován.</source>
        <translation>PIN was locked.</translation>
    </message>
    <message>
        <source>Změna PIN</source>
        <translation>PIN change</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;Probíhá změna PIN. Prosím vyčkejte na dokončení operace.&lt;/p&gt;
</source>
        <translation>&lt;p align=&apos;center&apos;&gt;Changing PIN. Please wait.&lt;/p&gt;
</translation>
    </message>
    <message>
        <source>PIN byl úspěšně změněn.</source>
        <translation>PIN was successfully changed.</translation>
    </message>
    <message>
        <source>Během změny hodnoty PIN byla vyjmuta karta.</source>
        <translation>Card was removed from reader while changing PIN.</translation>
    </message>
    <message>
        <source>Během změny hodnoty PIN se vyskytla chyba (0x</source>
        <translation>An error occurred while changing PIN (0x</translation>
    </message>
    <message>
        <source>Změna PUK</source>
        <translation>PUK change</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;Probíhá změna PUK. Prosím vyčkejte na dokončení operace.&lt;/p&gt;
</source>
        <translation>&lt;p align=&apos;center&apos;&gt;Changing PUK. Please wait.&lt;/p&gt;
</translation>
    </message>
    <message>
        <source>PUK byl úspěšně změněn.</source>
        <translation>PUK was successfully changed.</translation>
    </message>
    <message>
        <source>Během změny hodnoty PUK se vyskytla chyba (0x</source>
        <translation>An error occurred while changing PUK (0x</translation>
    </message>
    <message>
        <source>Odblokování PIN</source>
        <translation>PIN unblock</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;Probíhá odblokování PIN. Prosím vyčkejte na dokončení operace.&lt;/p&gt;
</source>
        <translation>&lt;p align=&apos;center&apos;&gt;Unblocking PIN. Please wait.&lt;/p&gt;
</translation>
    </message>
    <message>
        <source>PIN byl úspěšně odblokován.</source>
        <translation>PIN was successfully unblocked.</translation>
    </message>
    <message>
        <source>Během operace odblokování PIN se vyskytla chyba (0x</source>
        <translation>An error occurred while unblocking PIN (0x</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;V průběhu práce bylo přerušeno spojení s kartou (karta mohla být vyjmuta ze čtečky). Data, se kterými pracujete, mohou být neplatná.</source>
        <translation>&lt;p align=&apos;center&apos;&gt;The connection to card was interrupted during your work (card might have been removed from reader). Data you work with can be invalid.</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;PUK musí obsahovat alespoň jednu číslici.</source>
        <translation>&lt;p align=&apos;center&apos;&gt;PUK must contain at least one digit.</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;Nový PUK musí obsahovat alespoň osm číslic.</source>
        <translation>&lt;p align=&apos;center&apos;&gt;New PUK must contain at least eight digits.</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;Nový PIN musí obsahovat alespoň pět číslic.</source>
        <translation>&lt;p align=&apos;center&apos;&gt;New PIN must contain at least five digits.</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;PUK musí obsahovat alespoň %1 číslic.</source>
        <translation>&lt;p align=&apos;center&apos;&gt;PUK must contain at least %1 digits.</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;PIN musí obsahovat alespoň %1 číslic.</source>
        <translation>&lt;p align=&apos;center&apos;&gt;PIN must contain at least %1 digits.</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;PUK smí obsahovat pouze číslice.</source>
        <translation>&lt;p align=&apos;center&apos;&gt;PUK may contain digits only.</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;PIN smí obsahovat pouze číslice.</source>
        <translation>&lt;p align=&apos;center&apos;&gt;PIN may contain digits only.</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;PUK smí obsahovat nejvýše %1 číslic.</source>
        <translation>&lt;p align=&apos;center&apos;&gt;PUK may contain at most %1 digits.</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;PIN smí obsahovat nejvýše %1 číslic.</source>
        <translation>&lt;p align=&apos;center&apos;&gt;PIN may contain at most %1 digits.</translation>
    </message>
    <message>
        <source>Zadejte nový PUK:</source>
        <translation>Input new PUK:</translation>
    </message>
    <message>
        <source>Zadejte nový PIN:</source>
        <translation>Input new PIN:</translation>
    </message>
    <message>
        <source>Zopakujte nový PUK:</source>
        <translation>Repeat new PUK:</translation>
    </message>
    <message>
        <source>Zopakujte nový PIN:</source>
        <translation>Repeat new PIN:</translation>
    </message>
    <message>
        <source>Zadané hodnoty nového PUKu se neshodují.</source>
        <translation>Values of new PUK are not the same.</translation>
    </message>
    <message>
        <source>Zadané hodnoty nového PINu se neshodují.</source>
        <translation>Values of new PIN are not the same.</translation>
    </message>
    <message>
        <source>Zpracovávání</source>
        <translation>Processing</translation>
    </message>
    <message>
        <source>PIN karty je zablokován.</source>
        <translation>PIN of selected card is locked.</translation>
    </message>
    <message>
        <source>&lt;li&gt;klíč %1&lt;/li&gt;</source>
        <translation>&lt;li&gt;key %1&lt;/li&gt;</translation>
    </message>
    <message>
        <source>&lt;li&gt;certifikát pro %1, sériové číslo %2&lt;/li&gt;</source>
        <translation>&lt;li&gt;certificate for %1, serial number %2&lt;/li&gt;</translation>
    </message>
    <message>
        <source>&lt;p&gt;Karta maže vždy celý kontejner klíčů. Smazán bude kontejner &lt;b&gt;%1&lt;/b&gt; se vším, co obsahuje:&lt;/p&gt;</source>
        <translation>&lt;p&gt;The card always deletes a whole key container. The container &lt;b&gt;%1&lt;/b&gt; will be deleted with everything it holds:&lt;/p&gt;</translation>
    </message>
    <message>
        <source>&lt;p&gt;Chcete skutečně smazat tyto objekty z karty?&lt;/p&gt;</source>
        <translation>&lt;p&gt;Do you really want to remove these objects from card?&lt;/p&gt;</translation>
    </message>
    <message>
        <source>Během změny hodnoty PUK byla vyjmuta karta.</source>
        <translation>Card was removed from reader while changing PUK.</translation>
    </message>
    <message>
        <source>Během odblokování PIN byla vyjmuta karta.</source>
        <translation>Card was removed from reader while unblocking PIN.</translation>
    </message>
    <message>
        <source>Test neprošel klíč: %1</source>
        <translation>Key that failed the test: %1</translation>
    </message>
    <message>
        <source>Během importu klíče byla vyjmuta karta. Část klíče mohla zůstat na kartě: zobrazí se jako kontejner pouze s privátním klíčem, který lze v expertním módu smazat.</source>
        <translation>Card was removed from reader while importing key. Part of the key may have stayed on the card: it shows as a container with a private key only, which can be deleted in Expert mode.</translation>
    </message>
    <message>
        <source>&lt;p align=&apos;center&apos;&gt;Certifikát již na kartě nebyl.</source>
        <translation>&lt;p align=&apos;center&apos;&gt;The certificate was no longer on the card.</translation>
    </message>
</context>
</TS>
