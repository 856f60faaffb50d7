<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="en_US">
<context>
    <name>X509Viewer</name>
    <message>
        <source>Certificate Information</source>
        <translation>Certificate Information</translation>
    </message>
    <message>
        <source>General</source>
        <translation>General</translation>
    </message>
    <message>
        <source>Details</source>
        <translation>Details</translation>
    </message>
    <message>
        <source>Select details:</source>
        <translation>Select details:</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Value</source>
        <translation>Value</translation>
    </message>
    <message>
        <source>Show only supported extensions</source>
        <translation>Show only supported extensions</translation>
    </message>
    <message>
        <source>&lt;All details&gt;</source>
        <translation>&lt;All details&gt;</translation>
    </message>
    <message>
        <source>Common</source>
        <translation>Common</translation>
    </message>
    <message>
        <source>Extensions</source>
        <translation>Extensions</translation>
    </message>
    <message>
        <source>Only noncritical extensions</source>
        <translation>Only noncritical extensions</translation>
    </message>
    <message>
        <source>Only critical extensions</source>
        <translation>Only critical extensions</translation>
    </message>
    <message>
        <source>Unsupported extensions</source>
        <translation>Unsupported extensions</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>Application can't show this certificate.</source>
        <translation>Application can't show this certificate.</translation>
    </message>
    <message>
        <source>Issuer</source>
        <translation>Issuer</translation>
    </message>
    <message>
        <source>Subject</source>
        <translation>Subject</translation>
    </message>
    <message>
        <source>Serial Number</source>
        <translation>Serial Number</translation>
    </message>
    <message>
        <source>Extensions count</source>
        <translation>Extensions count</translation>
    </message>
    <message>
        <source>N/A</source>
        <translation>N/A</translation>
    </message>
    <message>
        <source>Common name</source>
        <translation>Common name</translation>
    </message>
    <message>
        <source>Country</source>
        <translation>Country</translation>
    </message>
    <message>
        <source>Locality</source>
        <translation>Locality</translation>
    </message>
    <message>
        <source>State or province</source>
        <translation>State or province</translation>
    </message>
    <message>
        <source>Organization</source>
        <translation>Organization</translation>
    </message>
    <message>
        <source>Organization unit</source>
        <translation>Organization unit</translation>
    </message>
    <message>
        <source>Email address</source>
        <translation>Email address</translation>
    </message>
    <message>
        <source>Given name</source>
        <translation>Given name</translation>
    </message>
    <message>
        <source>Surname</source>
        <translation>Surname</translation>
    </message>
    <message>
        <source>Initials</source>
        <translation>Initials</translation>
    </message>
    <message>
        <source>Title</source>
        <translation>Title</translation>
    </message>
    <message>
        <source>Distinguished name qualifier</source>
        <translation>Distinguished name qualifier</translation>
    </message>
    <message>
        <source>Domain component</source>
        <translation>Domain component</translation>
    </message>
    <message>
        <source>Generation qualifier</source>
        <translation>Generation qualifier</translation>
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
        <translation>Registered ID</translation>
    </message>
    <message>
        <source>Directory name</source>
        <translation>Directory name</translation>
    </message>
    <message>
        <source>EDI party name</source>
        <translation>EDI party name</translation>
    </message>
    <message>
        <source>Name assigner</source>
        <translation>Name assigner</translation>
    </message>
    <message>
        <source>Party name</source>
        <translation>Party name</translation>
    </message>
    <message>
        <source>IP address (IPv4)</source>
        <translation>IP address (IPv4)</translation>
    </message>
    <message>
        <source>IP address (IPv6)</source>
        <translation>IP address (IPv6)</translation>
    </message>
    <message>
        <source>Other name</source>
        <translation>Other name</translation>
    </message>
    <message>
        <source>Principal name</source>
        <translation>Principal name</translation>
    </message>
    <message>
        <source>Summary</source>
        <translation>Summary</translation>
    </message>
    <message>
        <source>Validity</source>
        <translation>Validity</translation>
    </message>
    <message>
        <source>Fingerprints</source>
        <translation>Fingerprints</translation>
    </message>
    <message>
        <source>Digital Signature</source>
        <translation>Digital Signature</translation>
    </message>
    <message>
        <source>Public Key Informations</source>
        <translation>Public Key Informations</translation>
    </message>
    <message>
        <source>Version</source>
        <translation>Version</translation>
    </message>
    <message>
        <source>General information</source>
        <translation>General information</translation>
    </message>
    <message>
        <source>Subject identifies the entity associated with the public key stored in the subject public key field.</source>
        <translation>Subject identifies the entity associated with the public key stored in the subject public key field.</translation>
    </message>
    <message>
        <source>Issuer identifies the entity who has signed and issued the certificate.</source>
        <translation>Issuer identifies the entity who has signed and issued the certificate.</translation>
    </message>
    <message>
        <source>Validity of this certificate</source>
        <translation>Validity of this certificate</translation>
    </message>
    <message>
        <source>Fingerprints of the public key</source>
        <translation>Fingerprints of the public key</translation>
    </message>
    <message>
        <source>Digital signature and algorithm identifier for the algorithm used by the CA to sign the certificate.</source>
        <translation>Digital signature and algorithm identifier for the algorithm used by the CA to sign the certificate.</translation>
    </message>
    <message>
        <source>Public key and algorithm with which the key is used.</source>
        <translation>Public key and algorithm with which the key is used.</translation>
    </message>
    <message>
        <source>Version of the encoded certificate</source>
        <translation>Version of the encoded certificate</translation>
    </message>
    <message>
        <source>Serial number is a positive integer assigned by the CA to each certificate.</source>
        <translation>Serial number is a positive integer assigned by the CA to each certificate.</translation>
    </message>
    <message>
        <source>unknown</source>
        <translation>unknown</translation>
    </message>
    <message>
        <source>%1 (%2-bit)</source>
        <translation>%1 (%2-bit)</translation>
    </message>
    <message>
        <source>Public key</source>
        <translation>Public key</translation>
    </message>
    <message>
        <source>Encryption type</source>
        <translation>Encryption type</translation>
    </message>
    <message>
        <source>Encryption</source>
        <translation>Encryption</translation>
    </message>
    <message>
        <source>&lt;details&gt;</source>
        <translation>&lt;details&gt;</translation>
    </message>
    <message>
        <source>Digital signature</source>
        <translation>Digital signature</translation>
    </message>
    <message>
        <source>Algorithm</source>
        <translation>Algorithm</translation>
    </message>
    <message>
        <source>Serial number</source>
        <translation>Serial number</translation>
    </message>
    <message>
        <source>Hexadecimal value</source>
        <translation>Hexadecimal value</translation>
    </message>
    <message>
        <source>Decimal value</source>
        <translation>Decimal value</translation>
    </message>
    <message>
        <source>Certificate validity</source>
        <translation>Certificate validity</translation>
    </message>
    <message>
        <source>Valid from</source>
        <translation>Valid from</translation>
    </message>
    <message>
        <source>Valid to</source>
        <translation>Valid to</translation>
    </message>
    <message>
        <source>Certificate purpose</source>
        <translation>Certificate purpose</translation>
    </message>
    <message>
        <source>(CA)</source>
        <translation>(CA)</translation>
    </message>
    <message>
        <source>Unable to verify this certificate.</source>
        <translation>Unable to verify this certificate.</translation>
    </message>
    <message>
        <source>Issued by</source>
        <translation>Issued by</translation>
    </message>
    <message>
        <source>Issued for</source>
        <translation>Issued for</translation>
    </message>
    <message>
        <source>to</source>
        <translation>to</translation>
    </message>
    <message>
        <source>SSL Client</source>
        <translation>SSL Client</translation>
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
        <translation>Sign email via S/MIME</translation>
    </message>
    <message>
        <source>Encrypt email via S/MIME</source>
        <translation>Encrypt email via S/MIME</translation>
    </message>
    <message>
        <source>Sign a Certificate Revocation List (CRL)</source>
        <translation>Sign a Certificate Revocation List (CRL)</translation>
    </message>
    <message>
        <source>Any/All purposes</source>
        <translation>Any/All purposes</translation>
    </message>
    <message>
        <source>OCSP Helper</source>
        <translation>OCSP Helper</translation>
    </message>
    <message>
        <source>Basic Constraints</source>
        <translation>Basic Constraints</translation>
    </message>
    <message>
        <source>Name Constraints</source>
        <translation>Name Constraints</translation>
    </message>
    <message>
        <source>Policy Constraints</source>
        <translation>Policy Constraints</translation>
    </message>
    <message>
        <source>Public Key Usage</source>
        <translation>Public Key Usage</translation>
    </message>
    <message>
        <source>Extended Key Usage</source>
        <translation>Extended Key Usage</translation>
    </message>
    <message>
        <source>Authority Key Identifier</source>
        <translation>Authority Key Identifier</translation>
    </message>
    <message>
        <source>Subject Key Identifier</source>
        <translation>Subject Key Identifier</translation>
    </message>
    <message>
        <source>Certificate Policies</source>
        <translation>Certificate Policies</translation>
    </message>
    <message>
        <source>Subject Alternative Names</source>
        <translation>Subject Alternative Names</translation>
    </message>
    <message>
        <source>Issuer Alternative Names</source>
        <translation>Issuer Alternative Names</translation>
    </message>
    <message>
        <source>Inhibit Any-Policy</source>
        <translation>Inhibit Any-Policy</translation>
    </message>
    <message>
        <source>CRL Distribution Points</source>
        <translation>CRL Distribution Points</translation>
    </message>
    <message>
        <source>Authority Information Access</source>
        <translation>Authority Information Access</translation>
    </message>
    <message>
        <source>Subject Information Access</source>
        <translation>Subject Information Access</translation>
    </message>
    <message>
        <source>Private Key Usage Period</source>
        <translation>Private Key Usage Period</translation>
    </message>
    <message>
        <source>Policy Mappings</source>
        <translation>Policy Mappings</translation>
    </message>
    <message>
        <source>Subject Directory Attributes</source>
        <translation>Subject Directory Attributes</translation>
    </message>
    <message>
        <source>Freshest CRL</source>
        <translation>Freshest CRL</translation>
    </message>
    <message>
        <source>Netscape Certificate Type</source>
        <translation>Netscape Certificate Type</translation>
    </message>
    <message>
        <source>Netscape Comment</source>
        <translation>Netscape Comment</translation>
    </message>
    <message>
        <source>Extension identifies whether the subject of the certificate is a CA and the maximum depth of valid certification paths that include this certificate.</source>
        <translation>Extension identifies whether the subject of the certificate is a CA and the maximum depth of valid certification paths that include this certificate.</translation>
    </message>
    <message>
        <source>Constraints extension indicates a name space within which all subject names in subsequent certificates in a certification path are located.</source>
        <translation>Constraints extension indicates a name space within which all subject names in subsequent certificates in a certification path are located.</translation>
    </message>
    <message>
        <source>Extension constrains path validation in two ways. It can be used to prohibit policy mapping or require that each certificate in a path contain an acceptable policy identifier.</source>
        <translation>Extension constrains path validation in two ways. It can be used to prohibit policy mapping or require that each certificate in a path contain an acceptable policy identifier.</translation>
    </message>
    <message>
        <source>Extension defines the purpose of the key contained in the certificate.</source>
        <translation>Extension defines the purpose of the key contained in the certificate.</translation>
    </message>
    <message>
        <source>Extension indicates one or more purposes for which the certified public key may be used, in addition to or in place of the basic purposes indicated in the key usage extension.</source>
        <translation>Extension indicates one or more purposes for which the certified public key may be used, in addition to or in place of the basic purposes indicated in the key usage extension.</translation>
    </message>
    <message>
        <source>Extension provides a means of identifying the public key corresponding to the private key used to sign a certificate.</source>
        <translation>Extension provides a means of identifying the public key corresponding to the private key used to sign a certificate.</translation>
    </message>
    <message>
        <source>Extension provides a means of identifying certificates that contain a particular public key.</source>
        <translation>Extension provides a means of identifying certificates that contain a particular public key.</translation>
    </message>
    <message>
        <source>Extension contains a sequence of one or more policy information terms.</source>
        <translation>Extension contains a sequence of one or more policy information terms.</translation>
    </message>
    <message>
        <source>This extension allows additional identities to be bound to the subject of the certificate.</source>
        <translation>This extension allows additional identities to be bound to the subject of the certificate.</translation>
    </message>
    <message>
        <source>This extension allows additional identities to be bound to the issuer of the certificate.</source>
        <translation>This extension allows additional identities to be bound to the issuer of the certificate.</translation>
    </message>
    <message>
        <source>The inhibit any-policy indicates that the special anyPolicy (2.5.29.32.0).</source>
        <translation>The inhibit any-policy indicates that the special anyPolicy (2.5.29.32.0).</translation>
    </message>
    <message>
        <source>Extension identifies how CRL information is obtained.</source>
        <translation>Extension identifies how CRL information is obtained.</translation>
    </message>
    <message>
        <source>Extension indicates how to access CA information and services for the issuer of the certificate in which the extension appears.</source>
        <translation>Extension indicates how to access CA information and services for the issuer of the certificate in which the extension appears.</translation>
    </message>
    <message>
        <source>Extension indicates how to access information and services for the subject of the certificate in which the extension appears.</source>
        <translation>Extension indicates how to access information and services for the subject of the certificate in which the extension appears.</translation>
    </message>
    <message>
        <source>Extension allows the certificate issuer to specify a different validity period for the private key than the certificate.</source>
        <translation>Extension allows the certificate issuer to specify a different validity period for the private key than the certificate.</translation>
    </message>
    <message>
        <source>This extension indicates the issuing CA considers its issuerDomainPolicy equivalent to the subject CA's subjectDomainPolicy.</source>
        <translation>This extension indicates the issuing CA considers its issuerDomainPolicy equivalent to the subject CA's subjectDomainPolicy.</translation>
    </message>
    <message>
        <source>Subject directory attributes extension is used to convey identification attributes of the subject.</source>
        <translation>Subject directory attributes extension is used to convey identification attributes of the subject.</translation>
    </message>
    <message>
        <source>Extension identifies how delta CRL information is obtained.</source>
        <translation>Extension identifies how delta CRL information is obtained.</translation>
    </message>
    <message>
        <source>Extension is used to identify whether the certificate subject is an SSL client, an SSL server, or a CA.</source>
        <translation>Extension is used to identify whether the certificate subject is an SSL client, an SSL server, or a CA.</translation>
    </message>
    <message>
        <source>Extension is a comment that can be displayed to the user when the certificate is viewed.</source>
        <translation>Extension is a comment that can be displayed to the user when the certificate is viewed.</translation>
    </message>
    <message>
        <source>Unsupported extension</source>
        <translation>Unsupported extension</translation>
    </message>
    <message>
        <source>Critical</source>
        <translation>Critical</translation>
    </message>
    <message>
        <source>Noncritical</source>
        <translation>Noncritical</translation>
    </message>
    <message>
        <source>ID</source>
        <translation>ID</translation>
    </message>
    <message>
        <source>Public key usage</source>
        <translation>Public key usage</translation>
    </message>
    <message>
        <source>Public key is used with a digital signature mechanism to support security.</source>
        <translation>Public key is used with a digital signature mechanism to support security.</translation>
    </message>
    <message>
        <source>Verifying digital signatures</source>
        <translation>Verifying digital signatures</translation>
    </message>
    <message>
        <source>Enciphering of key</source>
        <translation>Enciphering of key</translation>
    </message>
    <message>
        <source>Enciphering of user data</source>
        <translation>Enciphering of user data</translation>
    </message>
    <message>
        <source>Agreement of public key</source>
        <translation>Agreement of public key</translation>
    </message>
    <message>
        <source>Verifying a signature on public key certificates</source>
        <translation>Verifying a signature on public key certificates</translation>
    </message>
    <message>
        <source>Verifying a signature on Certificate Revocation List (CRL)</source>
        <translation>Verifying a signature on Certificate Revocation List (CRL)</translation>
    </message>
    <message>
        <source>Public key may be used only for enciphering data while performing key agreement.</source>
        <translation>Public key may be used only for enciphering data while performing key agreement.</translation>
    </message>
    <message>
        <source>Public key may be used only for deciphering data while performing key agreement.</source>
        <translation>Public key may be used only for deciphering data while performing key agreement.</translation>
    </message>
    <message>
        <source>Netscape certificate type</source>
        <translation>Netscape certificate type</translation>
    </message>
    <message>
        <source>S/MIME</source>
        <translation>S/MIME</translation>
    </message>
    <message>
        <source>Object-signing</source>
        <translation>Object-signing</translation>
    </message>
    <message>
        <source>!Asserted bit 4!</source>
        <translation>!Asserted bit 4!</translation>
    </message>
    <message>
        <source>SSL CA</source>
        <translation>SSL CA</translation>
    </message>
    <message>
        <source>S/MIME CA</source>
        <translation>S/MIME CA</translation>
    </message>
    <message>
        <source>Object-signing CA</source>
        <translation>Object-signing CA</translation>
    </message>
    <message>
        <source>The certificate can be used by clients for authentication during SSL connections.</source>
        <translation>The certificate can be used by clients for authentication during SSL connections.</translation>
    </message>
    <message>
        <source>The certificate can be used by servers for authentication during SSL connections.</source>
        <translation>The certificate can be used by servers for authentication during SSL connections.</translation>
    </message>
    <message>
        <source>The certificate can be used to send secure email messages.</source>
        <translation>The certificate can be used to send secure email messages.</translation>
    </message>
    <message>
        <source>The certificate can be used for signing objects such as Java applets and plugins.</source>
        <translation>The certificate can be used for signing objects such as Java applets and plugins.</translation>
    </message>
    <message>
        <source>This bit is reserved for future use.</source>
        <translation>This bit is reserved for future use.</translation>
    </message>
    <message>
        <source>The certificate can be used by a CA to issue certificates for SSL connections.</source>
        <translation>The certificate can be used by a CA to issue certificates for SSL connections.</translation>
    </message>
    <message>
        <source>The certificate can be used by a CA to issue certificates for secure email.</source>
        <translation>The certificate can be used by a CA to issue certificates for secure email.</translation>
    </message>
    <message>
        <source>The certificate can be used by a CA to issue certificates for object signing.</source>
        <translation>The certificate can be used by a CA to issue certificates for object signing.</translation>
    </message>
    <message>
        <source>Subject alternative names</source>
        <translation>Subject alternative names</translation>
    </message>
    <message>
        <source>Issuer alternative names</source>
        <translation>Issuer alternative names</translation>
    </message>
    <message>
        <source>Subject key identifier</source>
        <translation>Subject key identifier</translation>
    </message>
    <message>
        <source>Key identifier</source>
        <translation>Key identifier</translation>
    </message>
    <message>
        <source>Authority key identifier</source>
        <translation>Authority key identifier</translation>
    </message>
    <message>
        <source>Certificate issuer</source>
        <translation>Certificate issuer</translation>
    </message>
    <message>
        <source>Certificate serial number</source>
        <translation>Certificate serial number</translation>
    </message>
    <message>
        <source>Authority information access</source>
        <translation>Authority information access</translation>
    </message>
    <message>
        <source>Access description</source>
        <translation>Access description</translation>
    </message>
    <message>
        <source>Method</source>
        <translation>Method</translation>
    </message>
    <message>
        <source>Certificate authority issuers</source>
        <translation>Certificate authority issuers</translation>
    </message>
    <message>
        <source>Online Certificate Status Protocol (OCSP)</source>
        <translation>Online Certificate Status Protocol (OCSP)</translation>
    </message>
    <message>
        <source>Location</source>
        <translation>Location</translation>
    </message>
    <message>
        <source>Inhibit any policy</source>
        <translation>Inhibit any policy</translation>
    </message>
    <message>
        <source>Number of additional non-self-issued certificates</source>
        <translation>Number of additional non-self-issued certificates</translation>
    </message>
    <message>
        <source>inhibitPolicyMapping</source>
        <translation>inhibitPolicyMapping</translation>
    </message>
    <message>
        <source>requireExplicitPolicy</source>
        <translation>requireExplicitPolicy</translation>
    </message>
    <message>
        <source>%1 additional certificate(s) that may appear in the path before policy mapping is no longer permitted.</source>
        <translation>%1 additional certificate(s) that may appear in the path before policy mapping is no longer permitted.</translation>
    </message>
    <message>
        <source>%1 additional certificate(s) that may appear in the path before an explicit policy is required for the entire path.</source>
        <translation>%1 additional certificate(s) that may appear in the path before an explicit policy is required for the entire path.</translation>
    </message>
    <message>
        <source>Basic constraints</source>
        <translation>Basic constraints</translation>
    </message>
    <message>
        <source>End entity certificate</source>
        <translation>End entity certificate</translation>
    </message>
    <message>
        <source>CA or Self-issued certificate</source>
        <translation>CA or Self-issued certificate</translation>
    </message>
    <message>
        <source>Certificate Type</source>
        <translation>Certificate Type</translation>
    </message>
    <message>
        <source>Subject type</source>
        <translation>Subject type</translation>
    </message>
    <message>
        <source>Subject is not a Certificate Authority (CA).</source>
        <translation>Subject is not a Certificate Authority (CA).</translation>
    </message>
    <message>
        <source>Subject is a Certificate Authority (CA).</source>
        <translation>Subject is a Certificate Authority (CA).</translation>
    </message>
    <message>
        <source>Path length constraint</source>
        <translation>Path length constraint</translation>
    </message>
    <message>
        <source>&amp;lt;unlimited&amp;gt;</source>
        <translation>&amp;lt;unlimited&amp;gt;</translation>
    </message>
    <message>
        <source>Netscape comment</source>
        <translation>Netscape comment</translation>
    </message>
    <message>
        <source>Extension identifier</source>
        <translation>Extension identifier</translation>
    </message>
    <message>
        <source>Extension name</source>
        <translation>Extension name</translation>
    </message>
    <message>
        <source>Binary data</source>
        <translation>Binary data</translation>
    </message>
    <message>
        <source>Hexadecimal data</source>
        <translation>Hexadecimal data</translation>
    </message>
    <message>
        <source>Unspecified</source>
        <translation>Unspecified</translation>
    </message>
    <message>
        <source>Key compromise</source>
        <translation>Key compromise</translation>
    </message>
    <message>
        <source>Certificate authority compromise</source>
        <translation>Certificate authority compromise</translation>
    </message>
    <message>
        <source>Affiliation changed</source>
        <translation>Affiliation changed</translation>
    </message>
    <message>
        <source>Superseded</source>
        <translation>Superseded</translation>
    </message>
    <message>
        <source>Cessation of operation</source>
        <translation>Cessation of operation</translation>
    </message>
    <message>
        <source>Certificate hold</source>
        <translation>Certificate hold</translation>
    </message>
    <message>
        <source>Privilege withdrawn</source>
        <translation>Privilege withdrawn</translation>
    </message>
    <message>
        <source>Attribute authority compromise</source>
        <translation>Attribute authority compromise</translation>
    </message>
    <message>
        <source>Server authentication</source>
        <translation>Server authentication</translation>
    </message>
    <message>
        <source>TLS web server authentication</source>
        <translation>TLS web server authentication</translation>
    </message>
    <message>
        <source>Client authentication</source>
        <translation>Client authentication</translation>
    </message>
    <message>
        <source>TLS web client authentication</source>
        <translation>TLS web client authentication</translation>
    </message>
    <message>
        <source>Email protection</source>
        <translation>Email protection</translation>
    </message>
    <message>
        <source>Code signing</source>
        <translation>Code signing</translation>
    </message>
    <message>
        <source>Signing downloadable executable code</source>
        <translation>Signing downloadable executable code</translation>
    </message>
    <message>
        <source>Microsoft SGC</source>
        <translation>Microsoft SGC</translation>
    </message>
    <message>
        <source>Microsoft Server Gated Cryptography (SGC)</source>
        <translation>Microsoft Server Gated Cryptography (SGC)</translation>
    </message>
    <message>
        <source>Netscape SGC</source>
        <translation>Netscape SGC</translation>
    </message>
    <message>
        <source>Netscape Server Gated Cryptography (SGC)</source>
        <translation>Netscape Server Gated Cryptography (SGC)</translation>
    </message>
    <message>
        <source>Signing OCSP</source>
        <translation>Signing OCSP</translation>
    </message>
    <message>
        <source>Signing responses of the Online Certificate Status Protocol (OCSP)</source>
        <translation>Signing responses of the Online Certificate Status Protocol (OCSP)</translation>
    </message>
    <message>
        <source>Timestamping</source>
        <translation>Timestamping</translation>
    </message>
    <message>
        <source>Binding the hash of an object to a time</source>
        <translation>Binding the hash of an object to a time</translation>
    </message>
    <message>
        <source>DVCS</source>
        <translation>DVCS</translation>
    </message>
    <message>
        <source>Data validation and certification server (DVCS)</source>
        <translation>Data validation and certification server (DVCS)</translation>
    </message>
    <message>
        <source>IPSec end system</source>
        <translation>IPSec end system</translation>
    </message>
    <message>
        <source>IP Security end system (IPSec)</source>
        <translation>IP Security end system (IPSec)</translation>
    </message>
    <message>
        <source>IPSec tunnel</source>
        <translation>IPSec tunnel</translation>
    </message>
    <message>
        <source>IP Security tunnel termination (IPSec)</source>
        <translation>IP Security tunnel termination (IPSec)</translation>
    </message>
    <message>
        <source>IPSec user</source>
        <translation>IPSec user</translation>
    </message>
    <message>
        <source>IP Security user (IPSec)</source>
        <translation>IP Security user (IPSec)</translation>
    </message>
    <message>
        <source>CRL distribution points</source>
        <translation>CRL distribution points</translation>
    </message>
    <message>
        <source>Freshest CRL (Delta CRL distribution point)</source>
        <translation>Freshest CRL (Delta CRL distribution point)</translation>
    </message>
    <message>
        <source>Extended key usage</source>
        <translation>Extended key usage</translation>
    </message>
    <message>
        <source>Subject directory attributes</source>
        <translation>Subject directory attributes</translation>
    </message>
    <message>
        <source>Name constraints</source>
        <translation>Name constraints</translation>
    </message>
    <message>
        <source>Subject information access</source>
        <translation>Subject information access</translation>
    </message>
    <message>
        <source>Certificate policies</source>
        <translation>Certificate policies</translation>
    </message>
    <message>
        <source>Private key usage period</source>
        <translation>Private key usage period</translation>
    </message>
    <message>
        <source>Distribution point</source>
        <translation>Distribution point</translation>
    </message>
    <message>
        <source>Reason of CRL</source>
        <translation>Reason of CRL</translation>
    </message>
    <message>
        <source>CRL Issuer</source>
        <translation>CRL Issuer</translation>
    </message>
    <message>
        <source>Unknown usage</source>
        <translation>Unknown usage</translation>
    </message>
    <message>
        <source>Attribute</source>
        <translation>Attribute</translation>
    </message>
    <message>
        <source>Excluded subtrees</source>
        <translation>Excluded subtrees</translation>
    </message>
    <message>
        <source>Certificate authority repository</source>
        <translation>Certificate authority repository</translation>
    </message>
    <message>
        <source>Time Stamp Protocol (TSP)</source>
        <translation>Time Stamp Protocol (TSP)</translation>
    </message>
    <message>
        <source>Certificate policy</source>
        <translation>Certificate policy</translation>
    </message>
    <message>
        <source>Any policy</source>
        <translation>Any policy</translation>
    </message>
    <message>
        <source>Identifier</source>
        <translation>Identifier</translation>
    </message>
    <message>
        <source>Pointer to a Certification Practice Statement (CPS)</source>
        <translation>Pointer to a Certification Practice Statement (CPS)</translation>
    </message>
    <message>
        <source>User notice reference</source>
        <translation>User notice reference</translation>
    </message>
    <message>
        <source>Notice number</source>
        <translation>Notice number</translation>
    </message>
    <message>
        <source>User notice:</source>
        <translation>User notice:</translation>
    </message>
</context>
</TS>
