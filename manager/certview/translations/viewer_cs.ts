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
        <source>Public Key Information</source>
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
        <source>Critical</source>
        <translation>Kritické</translation>
    </message>
    <message>
        <source>Noncritical</source>
        <translation>Nekritické</translation>
    </message>
    <message>
        <source>ID</source>
        <translation>ID</translation>
    </message>
    <message>
        <source>Public key usage</source>
        <translation>Použití veřejného klíče</translation>
    </message>
    <message>
        <source>Public key is used with a digital signature mechanism to support security.</source>
        <translation>Digitální podpis pomocí veřejného klíče.</translation>
    </message>
    <message>
        <source>Verifying digital signatures</source>
        <translation>Ověření digitálních podpisů</translation>
    </message>
    <message>
        <source>Enciphering of key</source>
        <translation>Zakódování veřejného klíče</translation>
    </message>
    <message>
        <source>Enciphering of user data</source>
        <translation>Zakódování uživatelských dat</translation>
    </message>
    <message>
        <source>Agreement of public key</source>
        <translation>Shoda veřejného klíče</translation>
    </message>
    <message>
        <source>Verifying a signature on public key certificates</source>
        <translation>Ověření podpisu certifikátu s veřejným klíčem</translation>
    </message>
    <message>
        <source>Verifying a signature on Certificate Revocation List (CRL)</source>
        <translation>Ověření podpisu seznamu zrušených certifikátů (CRL)</translation>
    </message>
    <message>
        <source>Public key may be used only for enciphering data while performing key agreement.</source>
        <translation>Při provádění shody klíče je veřejný klíč použitelný pouze pro zakódování dat.</translation>
    </message>
    <message>
        <source>Public key may be used only for deciphering data while performing key agreement.</source>
        <translation>Při provádění shody klíče je veřejný klíč použitelný pouze pro dekódování dat.</translation>
    </message>
    <message>
        <source>Netscape certificate type</source>
        <translation>Typ certifikátu Netscape</translation>
    </message>
    <message>
        <source>The certificate can be used by clients for authentication during SSL connections.</source>
        <translation>Certifikát může být použit klienty pro autentizaci během SSL spojení.</translation>
    </message>
    <message>
        <source>The certificate can be used by servers for authentication during SSL connections.</source>
        <translation>Certifikát může být použit servery pro autentizaci během SSL spojení.</translation>
    </message>
    <message>
        <source>S/MIME</source>
        <translation>S/MIME</translation>
    </message>
    <message>
        <source>The certificate can be used to send secure email messages.</source>
        <translation>Certifikát může být použit pro odesílání zabezpečených emailových zpráv.</translation>
    </message>
    <message>
        <source>Object-signing</source>
        <translation>Podepisování objektů</translation>
    </message>
    <message>
        <source>The certificate can be used for signing objects such as Java applets and plugins.</source>
        <translation>Certifikát může být použit pro podpis objektů, například Java applety.</translation>
    </message>
    <message>
        <source>!Asserted bit 4!</source>
        <translation>!Nastaven bit 4!</translation>
    </message>
    <message>
        <source>This bit is reserved for future use.</source>
        <translation>Tento bit je rezervován pro budoucí využití.</translation>
    </message>
    <message>
        <source>SSL CA</source>
        <translation>Certifikační úřad pro SSL</translation>
    </message>
    <message>
        <source>The certificate can be used by a CA to issue certificates for SSL connections.</source>
        <translation>Certifikát může být použit certifikační autoritou (CA) k vydání certifikátů pro SSL spojení.</translation>
    </message>
    <message>
        <source>S/MIME CA</source>
        <translation>Certifikační úřad pro S/MIME</translation>
    </message>
    <message>
        <source>The certificate can be used by a CA to issue certificates for secure email.</source>
        <translation>Certifikát může být použit certifikační autoritou (CA) k vydání certifikátů pro zabezpečení emailu.</translation>
    </message>
    <message>
        <source>Object-signing CA</source>
        <translation>Certifikační úřad pro podepisování objektů</translation>
    </message>
    <message>
        <source>The certificate can be used by a CA to issue certificates for object signing.</source>
        <translation>Certifikát může být použit certifikační autoritou (CA) k vydání certifikátů pro podpis objektů.</translation>
    </message>
    <message>
        <source>Subject alternative names</source>
        <translation>Alternativní název předmětu</translation>
    </message>
    <message>
        <source>Issuer alternative names</source>
        <translation>Alternativní název vydavatele</translation>
    </message>
    <message>
        <source>Subject key identifier</source>
        <translation>Identifikátor klíče předmětu</translation>
    </message>
    <message>
        <source>Key identifier</source>
        <translation>Identifikátor klíče</translation>
    </message>
    <message>
        <source>Authority key identifier</source>
        <translation>Identifikátor klíče úřadu</translation>
    </message>
    <message>
        <source>Certificate issuer</source>
        <translation>Vydavatel certifikátu</translation>
    </message>
    <message>
        <source>Certificate serial number</source>
        <translation>Sériové číslo certifikátu</translation>
    </message>
    <message>
        <source>Authority information access</source>
        <translation>Přístup k informacím úřadu</translation>
    </message>
    <message>
        <source>Access description</source>
        <translation>Popis přístupu</translation>
    </message>
    <message>
        <source>Method</source>
        <translation>Metoda</translation>
    </message>
    <message>
        <source>Certificate authority issuers</source>
        <translation>Vydavatelé certifikační autority</translation>
    </message>
    <message>
        <source>Online Certificate Status Protocol (OCSP)</source>
        <translation>Online Certificate Status Protocol (OCSP)</translation>
    </message>
    <message>
        <source>Location</source>
        <translation>Místo</translation>
    </message>
    <message>
        <source>Inhibit any policy</source>
        <translation>Zákaz libovolných zásad</translation>
    </message>
    <message>
        <source>Number of additional non-self-issued certificates</source>
        <translation>Počet dodatečných certifikátů podepsaných CA</translation>
    </message>
    <message>
        <source>inhibitPolicyMapping</source>
        <translation>Mapování zásad zakázáno</translation>
    </message>
    <message>
        <source>%1 additional certificate(s) that may appear in the path before policy mapping is no longer permitted.</source>
        <translation>%1 další certifikát(y), které se mohou objevit v cestě předtím, než je mapování zásad zakázáno.</translation>
    </message>
    <message>
        <source>requireExplicitPolicy</source>
        <translation>Vyžadovány explicitní zásady</translation>
    </message>
    <message>
        <source>%1 additional certificate(s) that may appear in the path before an explicit policy is required for the entire path.</source>
        <translation>%1 další certifikát(y), které se mohou objevit v cestě předtím, než je uplatněna explicitní zásada pro celou cestu.</translation>
    </message>
    <message>
        <source>Basic constraints</source>
        <translation>Základní omezení</translation>
    </message>
    <message>
        <source>End entity certificate</source>
        <translation>Certifikát koncové entity</translation>
    </message>
    <message>
        <source>CA or Self-issued certificate</source>
        <translation>Certifikát typu CA nebo vydaný sám sebou</translation>
    </message>
    <message>
        <source>Certificate Type</source>
        <translation>Typ certifikátu</translation>
    </message>
    <message>
        <source>Subject type</source>
        <translation>Typ předmětu</translation>
    </message>
    <message>
        <source>Subject is not a Certificate Authority (CA).</source>
        <translation>Předmět certifikátu není certifikační autoritou (CA).</translation>
    </message>
    <message>
        <source>Subject is a Certificate Authority (CA).</source>
        <translation>Předmět certifikátu je certifikační autoritou (CA).</translation>
    </message>
    <message>
        <source>Path length constraint</source>
        <translation>Omezení délky cesty</translation>
    </message>
    <message>
        <source>&amp;lt;unlimited&amp;gt;</source>
        <translation>&amp;lt;neomezená&amp;gt;</translation>
    </message>
    <message>
        <source>Netscape comment</source>
        <translation>Poznámka Netscape</translation>
    </message>
    <message>
        <source>Extension identifier</source>
        <translation>Identifikátor rozšíření</translation>
    </message>
    <message>
        <source>Extension name</source>
        <translation>Jméno rozšíření</translation>
    </message>
    <message>
        <source>Binary data</source>
        <translation>Binární data</translation>
    </message>
    <message>
        <source>Hexadecimal data</source>
        <translation>Hexadecimální data</translation>
    </message>
    <message>
        <source>CRL distribution points</source>
        <translation>Distribuční místa CRL</translation>
    </message>
    <message>
        <source>Freshest CRL (Delta CRL distribution point)</source>
        <translation>Nejnovější CRL (Delta CRL Distribuční Bod)</translation>
    </message>
    <message>
        <source>Extended key usage</source>
        <translation>Rozšířené využití veřejného klíče</translation>
    </message>
    <message>
        <source>Subject directory attributes</source>
        <translation>Vlastnosti adresáře předmětu</translation>
    </message>
    <message>
        <source>Name constraints</source>
        <translation>Omezení jmenného prostoru</translation>
    </message>
    <message>
        <source>Subject information access</source>
        <translation>Přístup k informacím předmětu</translation>
    </message>
    <message>
        <source>Certificate policies</source>
        <translation>Zásady certifikátu</translation>
    </message>
    <message>
        <source>Private key usage period</source>
        <translation>Platnost použití soukromého klíče</translation>
    </message>
    <message>
        <source>Unspecified</source>
        <translation>Nespecifikován</translation>
    </message>
    <message>
        <source>Key compromise</source>
        <translation>Ohrožení klíče</translation>
    </message>
    <message>
        <source>Certificate authority compromise</source>
        <translation>Ohrožení certifikační autority</translation>
    </message>
    <message>
        <source>Affiliation changed</source>
        <translation>Změna přidružení</translation>
    </message>
    <message>
        <source>Superseded</source>
        <translation>Záměna</translation>
    </message>
    <message>
        <source>Cessation of operation</source>
        <translation>Přerušení operace</translation>
    </message>
    <message>
        <source>Certificate hold</source>
        <translation>Zadržení certifikátu</translation>
    </message>
    <message>
        <source>Privilege withdrawn</source>
        <translation>Odebrání výhod (práv)</translation>
    </message>
    <message>
        <source>Attribute authority compromise</source>
        <translation>Ohrožení atributové autority</translation>
    </message>
    <message>
        <source>Server authentication</source>
        <translation>Autentizace serveru</translation>
    </message>
    <message>
        <source>TLS web server authentication</source>
        <translation>Autentizace TLS webového serveru</translation>
    </message>
    <message>
        <source>Client authentication</source>
        <translation>Autentizace klienta</translation>
    </message>
    <message>
        <source>TLS web client authentication</source>
        <translation>Autentizace TLS webového klienta</translation>
    </message>
    <message>
        <source>Email protection</source>
        <translation>Ochrana emailu</translation>
    </message>
    <message>
        <source>Code signing</source>
        <translation>Podpis kódu</translation>
    </message>
    <message>
        <source>Signing downloadable executable code</source>
        <translation>Pomocí certifikátu je možné podepsat stáhnutelný a spustitelný kód</translation>
    </message>
    <message>
        <source>Microsoft SGC</source>
        <translation>Microsoft SGC</translation>
    </message>
    <message>
        <source>Microsoft Server Gated Cryptography (SGC)</source>
        <translation>Šifrování pomocí Microsoft Server Gated Cryptography (SGC)</translation>
    </message>
    <message>
        <source>Netscape SGC</source>
        <translation>Netscape SGC</translation>
    </message>
    <message>
        <source>Netscape Server Gated Cryptography (SGC)</source>
        <translation>Šifrování pomocí Netscape Server Gated Cryptography (SGC)</translation>
    </message>
    <message>
        <source>Signing OCSP</source>
        <translation>Podpis OCSP</translation>
    </message>
    <message>
        <source>Signing responses of the Online Certificate Status Protocol (OCSP)</source>
        <translation>Podpis odpovědí protokolu Online Certificate Status Protocol (OCSP)</translation>
    </message>
    <message>
        <source>Timestamping</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Binding the hash of an object to a time</source>
        <translation>Spojení identifikátoru (hašovacího klíče) objektu s časem</translation>
    </message>
    <message>
        <source>DVCS</source>
        <translation>DVCS</translation>
    </message>
    <message>
        <source>Data validation and certification server (DVCS)</source>
        <translation>Ověření dat a certifikačního serveru (DVCS)</translation>
    </message>
    <message>
        <source>IPSec end system</source>
        <translation>IPSec koncový systém</translation>
    </message>
    <message>
        <source>IP Security end system (IPSec)</source>
        <translation>Koncový systém v protokolu internetové bezpečnosti (IPSec)</translation>
    </message>
    <message>
        <source>IPSec tunnel</source>
        <translation>IPSec tunel</translation>
    </message>
    <message>
        <source>IP Security tunnel termination (IPSec)</source>
        <translation>Zakončení tunelu v protokolu internetové bezpečnosti (IPSec)</translation>
    </message>
    <message>
        <source>IPSec user</source>
        <translation>IPSec uživatel</translation>
    </message>
    <message>
        <source>IP Security user (IPSec)</source>
        <translation>Uživatel v protokolu internetové bezpečnosti (IPSec)</translation>
    </message>
    <message>
        <source>Distribution point</source>
        <translation>Distribuční místo</translation>
    </message>
    <message>
        <source>Reason of CRL</source>
        <translation>Důvod CRL</translation>
    </message>
    <message>
        <source>CRL Issuer</source>
        <translation>Vydavatel CRL</translation>
    </message>
    <message>
        <source>Unknown usage</source>
        <translation>Neznámé použití</translation>
    </message>
    <message>
        <source>Attribute</source>
        <translation>Vlastnost</translation>
    </message>
    <message>
        <source>Excluded subtrees</source>
        <translation>Vyloučené podstromy</translation>
    </message>
    <message>
        <source>Certificate authority repository</source>
        <translation>Repozitář certifikační autority</translation>
    </message>
    <message>
        <source>Time Stamp Protocol (TSP)</source>
        <translation>Time Stamp Protocol (TSP)</translation>
    </message>
    <message>
        <source>Certificate policy</source>
        <translation>Zásada certifikátu</translation>
    </message>
    <message>
        <source>Any policy</source>
        <translation>Libovolná zásada</translation>
    </message>
    <message>
        <source>Identifier</source>
        <translation>Identifikátor</translation>
    </message>
    <message>
        <source>Pointer to a Certification Practice Statement (CPS)</source>
        <translation>Odkaz na Prohlášení o použití certifikátu (CPS)</translation>
    </message>
    <message>
        <source>User notice reference</source>
        <translation>Odkaz na uživatelskou poznámku</translation>
    </message>
    <message>
        <source>Notice number</source>
        <translation>Číslo poznámky</translation>
    </message>
    <message>
        <source>User notice:</source>
        <translation>Oznámení uživatele:</translation>
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
