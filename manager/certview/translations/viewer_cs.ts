<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="cs_CZ">
<context>
    <name>X509Viewer</name>
    <message>
        <source>Issuer</source>
        <translation>Vydavatel</translation>
    </message>
    <message>
        <source>Subject</source>
        <translation>Předmět</translation>
    </message>
    <message>
        <source>Serial Number</source>
        <translation>Sériové číslo</translation>
    </message>
    <message>
        <source>Extensions count</source>
        <translation>Počet rozšíření</translation>
    </message>
    <message>
        <source>Extensions</source>
        <translation>Rozšíření</translation>
    </message>
    <message>
        <source>N/A</source>
        <translation>N/A</translation>
    </message>
    <message>
        <source>Common name</source>
        <translation>Obecné jméno</translation>
    </message>
    <message>
        <source>Country</source>
        <translation>Země</translation>
    </message>
    <message>
        <source>Locality</source>
        <translation>Místo</translation>
    </message>
    <message>
        <source>State or province</source>
        <translation>Stát nebo provincie</translation>
    </message>
    <message>
        <source>Organization</source>
        <translation>Organizace</translation>
    </message>
    <message>
        <source>Organization unit</source>
        <translation>Součást organizace</translation>
    </message>
    <message>
        <source>Email address</source>
        <translation>Emailová adresa</translation>
    </message>
    <message>
        <source>Given name</source>
        <translation>Křestní jméno</translation>
    </message>
    <message>
        <source>Surname</source>
        <translation>Příjmení</translation>
    </message>
    <message>
        <source>Initials</source>
        <translation>Iniciály</translation>
    </message>
    <message>
        <source>Title</source>
        <translation>Název</translation>
    </message>
    <message>
        <source>Distinguished name qualifier</source>
        <translation>Význačné jméno</translation>
    </message>
    <message>
        <source>Domain component</source>
        <translation>Doménová komponenta</translation>
    </message>
    <message>
        <source>Generation qualifier</source>
        <translation>Označení generace</translation>
    </message>
    <message>
        <source>Pseudonym</source>
        <translation>Pseudonym</translation>
    </message>
    <message>
        <source>Email</source>
        <translation>Email</translation>
    </message>
    <message>
        <source>DNS</source>
        <translation>DNS</translation>
    </message>
    <message>
        <source>URI</source>
        <translation>URI</translation>
    </message>
    <message>
        <source>Registered ID</source>
        <translation>Registrované ID</translation>
    </message>
    <message>
        <source>Directory name</source>
        <translation>Jméno adresáře</translation>
    </message>
    <message>
        <source>EDI party name</source>
        <translation>EDI jméno účastníka</translation>
    </message>
    <message>
        <source>Name assigner</source>
        <translation>Tvůrce jména</translation>
    </message>
    <message>
        <source>Party name</source>
        <translation>Jméno účastníka</translation>
    </message>
    <message>
        <source>IP address (IPv4)</source>
        <translation>IP adresa (IPv4)</translation>
    </message>
    <message>
        <source>IP address (IPv6)</source>
        <translation>IP adresa (IPv6)</translation>
    </message>
    <message>
        <source>Other name</source>
        <translation>Jiné jméno</translation>
    </message>
    <message>
        <source>Principal name</source>
        <translation>Hlavní jméno</translation>
    </message>
    <message>
        <source>Summary</source>
        <translation>Souhrn</translation>
    </message>
    <message>
        <source>Validity</source>
        <translation>Platnost</translation>
    </message>
    <message>
        <source>Fingerprints</source>
        <translation>Otisky</translation>
    </message>
    <message>
        <source>Digital Signature</source>
        <translation>Digitální podpis</translation>
    </message>
    <message>
        <source>Public Key Informations</source>
        <translation>Veřejný klíč</translation>
    </message>
    <message>
        <source>Version</source>
        <translation>Verze</translation>
    </message>
    <message>
        <source>General information</source>
        <translation>Obecné informace</translation>
    </message>
    <message>
        <source>Subject identifies the entity associated with the public key stored in the subject public key field.</source>
        <translation>Předmět, který je přiřazen k veřejnému klíči.</translation>
    </message>
    <message>
        <source>Issuer identifies the entity who has signed and issued the certificate.</source>
        <translation>Vydavatel je subjekt, který podepsal a vydal certifikát.</translation>
    </message>
    <message>
        <source>Validity of this certificate</source>
        <translation>Platnost tohoto certifikátu</translation>
    </message>
    <message>
        <source>Fingerprints of the public key</source>
        <translation>Otisky veřejného klíče</translation>
    </message>
    <message>
        <source>Digital signature and algorithm identifier for the algorithm used by the CA to sign the certificate.</source>
        <translation>Digitální podpis certifikátu a algoritmus použitý certifikační autoritou (CA).</translation>
    </message>
    <message>
        <source>Public key and algorithm with which the key is used.</source>
        <translation>Veřejný klíč a algoritmus, se kterým se tento klíč používá.</translation>
    </message>
    <message>
        <source>Version of the encoded certificate</source>
        <translation>Verze kódování certifikátu</translation>
    </message>
    <message>
        <source>Serial number is a positive integer assigned by the CA to each certificate.</source>
        <translation>Sériové číslo je kladný číselný řetězec, který každému certifikátu přiřazuje certifikační autorita (CA).</translation>
    </message>
    <message>
        <source>unknown</source>
        <translation>neznámé</translation>
    </message>
    <message>
        <source>%1 (%2-bit)</source>
        <translation>%1 (%2-bit)</translation>
    </message>
    <message>
        <source>Public key</source>
        <translation>Veřejný klíč</translation>
    </message>
    <message>
        <source>Encryption type</source>
        <translation>Typ zabezpečení</translation>
    </message>
    <message>
        <source>Encryption</source>
        <translation>Zabezpečení</translation>
    </message>
    <message>
        <source>Value</source>
        <translation>Hodnota</translation>
    </message>
    <message>
        <source>&lt;details&gt;</source>
        <translation>&lt;detaily&gt;</translation>
    </message>
    <message>
        <source>Digital signature</source>
        <translation>Digitální podpis</translation>
    </message>
    <message>
        <source>Algorithm</source>
        <translation>Algoritmus</translation>
    </message>
    <message>
        <source>Serial number</source>
        <translation>Sériové číslo</translation>
    </message>
    <message>
        <source>Hexadecimal value</source>
        <translation>Hexadecimální hodnota</translation>
    </message>
    <message>
        <source>Decimal value</source>
        <translation>Decimální hodnota</translation>
    </message>
    <message>
        <source>Certificate validity</source>
        <translation>Platnost certifikátu</translation>
    </message>
    <message>
        <source>Valid from</source>
        <translation>Platný od</translation>
    </message>
    <message>
        <source>Valid to</source>
        <translation>Platný do</translation>
    </message>
    <message>
        <source>Certificate purpose</source>
        <translation>Účel certifikátu</translation>
    </message>
    <message>
        <source>(CA)</source>
        <translation>(CA)</translation>
    </message>
    <message>
        <source>Unable to verify this certificate.</source>
        <translation>Certifikát nelze verifikovat.</translation>
    </message>
    <message>
        <source>Issued by</source>
        <translation>Vydavatel</translation>
    </message>
    <message>
        <source>Issued for</source>
        <translation>Předmět</translation>
    </message>
    <message>
        <source>to</source>
        <translation>do</translation>
    </message>
    <message>
        <source>SSL Client</source>
        <translation>SSL Klient</translation>
    </message>
    <message>
        <source>SSL Server</source>
        <translation>SSL Server</translation>
    </message>
    <message>
        <source>Netscape SSL Server</source>
        <translation>Netscape SSL Server</translation>
    </message>
    <message>
        <source>Sign email via S/MIME</source>
        <translation>Podpis emailu pomocí S/MIME</translation>
    </message>
    <message>
        <source>Encrypt email via S/MIME</source>
        <translation>Zakódování emailu pomocí S/MIME</translation>
    </message>
    <message>
        <source>Sign a Certificate Revocation List (CRL)</source>
        <translation>Podpis seznamu zrušených certifikátů (CRL)</translation>
    </message>
    <message>
        <source>Any/All purposes</source>
        <translation>Kterékoliv/Všechny účely</translation>
    </message>
    <message>
        <source>OCSP Helper</source>
        <translation>Pomocník OCSP</translation>
    </message>
    <message>
        <source>Basic Constraints</source>
        <translation>Základní omezení</translation>
    </message>
    <message>
        <source>Name Constraints</source>
        <translation>Omezení jmenného prostoru</translation>
    </message>
    <message>
        <source>Policy Constraints</source>
        <translation>Omezení zásad certifikátu</translation>
    </message>
    <message>
        <source>Public Key Usage</source>
        <translation>Použití veřejného klíče</translation>
    </message>
    <message>
        <source>Extended Key Usage</source>
        <translation>Rozšířené využití veřejného klíče</translation>
    </message>
    <message>
        <source>Authority Key Identifier</source>
        <translation>Identifikátor klíče úřadu</translation>
    </message>
    <message>
        <source>Subject Key Identifier</source>
        <translation>Identifikátor klíče předmětu</translation>
    </message>
    <message>
        <source>Certificate Policies</source>
        <translation>Zásady certifikátu</translation>
    </message>
    <message>
        <source>Subject Alternative Names</source>
        <translation>Alternativní název předmětu</translation>
    </message>
    <message>
        <source>Issuer Alternative Names</source>
        <translation>Alternativní název vydavatele</translation>
    </message>
    <message>
        <source>Inhibit Any-Policy</source>
        <translation>Zákaz Any-Policy</translation>
    </message>
    <message>
        <source>CRL Distribution Points</source>
        <translation>Distribuční místa CRL</translation>
    </message>
    <message>
        <source>Authority Information Access</source>
        <translation>Přístup k informacím úřadu</translation>
    </message>
    <message>
        <source>Subject Information Access</source>
        <translation>Přístup k informacím předmětu</translation>
    </message>
    <message>
        <source>Private Key Usage Period</source>
        <translation>Platnost užití soukromého klíče</translation>
    </message>
    <message>
        <source>Policy Mappings</source>
        <translation>Mapování zásad</translation>
    </message>
    <message>
        <source>Subject Directory Attributes</source>
        <translation>Vlastnosti adresáře předmětu</translation>
    </message>
    <message>
        <source>Freshest CRL</source>
        <translation>Nejnovější CRL</translation>
    </message>
    <message>
        <source>Netscape Certificate Type</source>
        <translation>Typ certifikátu Netscape</translation>
    </message>
    <message>
        <source>Netscape Comment</source>
        <translation>Poznámka Netscape</translation>
    </message>
    <message>
        <source>Extension identifies whether the subject of the certificate is a CA and the maximum depth of valid certification paths that include this certificate.</source>
        <translation>Pomocí tohoto rozšíření zjistíte, zda je předmět certifikační autorita a také maximální hloubku platné certifikační cesty.</translation>
    </message>
    <message>
        <source>Constraints extension indicates a name space within which all subject names in subsequent certificates in a certification path are located.</source>
        <translation>Toto rozšíření vymezuje jmenný prostor, ve kterém se nacházejí všechna jména předmětu v podřízených certifikátech.</translation>
    </message>
    <message>
        <source>Extension constrains path validation in two ways. It can be used to prohibit policy mapping or require that each certificate in a path contain an acceptable policy identifier.</source>
        <translation>Rozšíření ověřuje dvěma způsoby certifikační cestu. Může zakazovat mapování zásad nebo vyžadovat identifikátor zásad každého certifikátu v cestě.</translation>
    </message>
    <message>
        <source>Extension defines the purpose of the key contained in the certificate.</source>
        <translation>Toto rozšíření určuje použití veřejného klíče.</translation>
    </message>
    <message>
        <source>Extension indicates one or more purposes for which the certified public key may be used, in addition to or in place of the basic purposes indicated in the key usage extension.</source>
        <translation>Toto rozšíření určuje jedno nebo více dalších využití, pro která může být veřejný klíč použit.</translation>
    </message>
    <message>
        <source>Extension provides a means of identifying the public key corresponding to the private key used to sign a certificate.</source>
        <translation>Toto rozšíření svazuje veřejný klíč s odpovídajícím soukromým klíčem, kterým byl certifikát podepsán.</translation>
    </message>
    <message>
        <source>Extension provides a means of identifying certificates that contain a particular public key.</source>
        <translation>Toto rozšíření identifikuje konkrétní veřejný klíč.</translation>
    </message>
    <message>
        <source>Extension contains a sequence of one or more policy information terms.</source>
        <translation>Rozšíření obsahuje posloupnost jedné nebo více zásad certifikátu.</translation>
    </message>
    <message>
        <source>This extension allows additional identities to be bound to the subject of the certificate.</source>
        <translation>Rozšíření dovoluje připojit dodatečné identity k předmětu certifikátu.</translation>
    </message>
    <message>
        <source>This extension allows additional identities to be bound to the issuer of the certificate.</source>
        <translation>Rozšíření dovoluje připojit dodatečné identity k vydavateli certifikátu.</translation>
    </message>
    <message>
        <source>The inhibit any-policy indicates that the special anyPolicy (2.5.29.32.0).</source>
        <translation>Rozšíření umožňuje potlačit speciální zásadu anyPolicy (2.5.29.32.0).</translation>
    </message>
    <message>
        <source>Extension identifies how CRL information is obtained.</source>
        <translation>Toto rozšíření určuje, jakým způsobem jsou obdrženy informace CRL.</translation>
    </message>
    <message>
        <source>Extension indicates how to access CA information and services for the issuer of the certificate in which the extension appears.</source>
        <translation>Toto rozšíření ukazuje, jak přistupovat k informacím a vydavatelským službám certifikačního úřadu.</translation>
    </message>
    <message>
        <source>Extension indicates how to access information and services for the subject of the certificate in which the extension appears.</source>
        <translation>Toto rozšíření ukazuje, jak přistupovat k informacím a službám určeným pro předmět certifikátu.</translation>
    </message>
    <message>
        <source>Extension allows the certificate issuer to specify a different validity period for the private key than the certificate.</source>
        <translation>Rozšíření umožňuje vydavateli změnit dobu platnosti používání soukromého klíče.</translation>
    </message>
    <message>
        <source>This extension indicates the issuing CA considers its issuerDomainPolicy equivalent to the subject CA's subjectDomainPolicy.</source>
        <translation>Rozšíření určuje, že se vydavatel (CA) bere ohled na oblast zásad vydavatele stejně jako na oblast zásad předmětu.</translation>
    </message>
    <message>
        <source>Subject directory attributes extension is used to convey identification attributes of the subject.</source>
        <translation>Toto rozšíření umožňuje přidat k předmětu další identifikační vlastnosti.</translation>
    </message>
    <message>
        <source>Extension identifies how delta CRL information is obtained.</source>
        <translation>Toto rozšíření popisuje, jak mohou být získávány nejnovější delta CRL informace.</translation>
    </message>
    <message>
        <source>Extension is used to identify whether the certificate subject is an SSL client, an SSL server, or a CA.</source>
        <translation>(Netscape) Toto rozšíření určuje, zda je předmět SSL klient, server nebo certifikační autorita (CA).</translation>
    </message>
    <message>
        <source>Extension is a comment that can be displayed to the user when the certificate is viewed.</source>
        <translation>(Netscape) Toto rozšíření obsahuje komentář pro uživatele.</translation>
    </message>
    <message>
        <source>Unsupported extension</source>
        <translation>Nepodporované rozšíření</translation>
    </message>
    <message>
        <source>Certificate Information</source>
        <translation>Informace o certifikátu</translation>
    </message>
    <message>
        <source>General</source>
        <translation>Obecné</translation>
    </message>
    <message>
        <source>Details</source>
        <translation>Podrobnosti</translation>
    </message>
    <message>
        <source>Select details:</source>
        <translation>Zvolte detaily:</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Název</translation>
    </message>
    <message>
        <source>Show only supported extensions</source>
        <translation>Zobrazovat pouze podporovaná rozšíření</translation>
    </message>
    <message>
        <source>&lt;All details&gt;</source>
        <translation>&lt;Vše&gt;</translation>
    </message>
    <message>
        <source>Common</source>
        <translation>Obecné</translation>
    </message>
    <message>
        <source>Only noncritical extensions</source>
        <translation>Pouze nekritická rozšíření</translation>
    </message>
    <message>
        <source>Only critical extensions</source>
        <translation>Pouze kritická rozšíření</translation>
    </message>
    <message>
        <source>Unsupported extensions</source>
        <translation>Nepodporovaná rozšíření</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>Varování</translation>
    </message>
    <message>
        <source>Application can't show this certificate.</source>
        <translation>Aplikace nemůže zobrazit tento certifikát.</translation>
    </message>
</context>
</TS>
