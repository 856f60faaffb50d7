// What a private key's usage makes of the card container it goes into, one rule
// for a key the card generates and for a key imported: the container flags the
// card is given, the token's container type and the key's number in the card
// container.
//
// A key that decrypts is an exchange key, even when it signs too; a key that
// signs and does not decrypt is a signature key, whatever it may unwrap; a key
// that only unwraps is an exchange key. A key for nothing has no place on the
// card.
#pragma once

class CP11Object;

struct CContainerKind {
    unsigned long usage;     // container flags: 1 signing, 6 decryption or unwrapping
    unsigned long type;      // CONTAINER_TYPE_SIGNATURE or CONTAINER_TYPE_EXCHANGE
    unsigned char keyNumber; // QVMD_KEY_SPEC_SIGNATURE or QVMD_KEY_SPEC_EXCHANGE
};

// The kind of the private key's container, from its CKA_SIGN, CKA_DECRYPT and
// CKA_UNWRAP; CKR_TEMPLATE_INCONSISTENT for a key that does none of them.
CContainerKind containerKindOf(CP11Object *privateKey);
