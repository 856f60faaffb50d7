// The RSA work of the simulated card, all of it in OpenSSL: making container keys,
// their public parts, the raw private-key operation and the assembly of an imported
// key from its CRT parts.
#pragma once

#include "lzh.h"

#include <string>

namespace cardsim
{

// A new RSA key of `bits` bits with public exponent e, as private-key DER.
bool GenerateRsaKey(int bits, unsigned long e, Bytes &privateDer);

// The modulus (big-endian, no leading zeros) and public exponent of a key given as
// private-key DER (publicOnly false) or SubjectPublicKeyInfo DER (publicOnly true).
bool RsaPublicParts(const Bytes &der, bool publicOnly, Bytes &modulus, Bytes &exponent);

// SubjectPublicKeyInfo DER of a private key.
bool RsaPublicDer(const Bytes &privateDer, Bytes &publicDer);

// Size of the modulus in bits; 0 when der is no RSA key.
int RsaBits(const Bytes &der, bool publicOnly);

// x^d mod n for a block of exactly the modulus length that is below the modulus,
// left-padded to the modulus length. False for any other block.
bool RsaPrivateRaw(const Bytes &privateDer, const Bytes &block, Bytes &result);

// Builds a private key from an imported modulus, public exponent, primes, CRT exponents
// and coefficient (all big-endian); d is computed here. False, with the reason, when
// the parts do not belong together (n != p*q, a CRT value that does not follow).
bool AssembleRsaKey(const Bytes &n, const Bytes &e, const Bytes &p, const Bytes &q, const Bytes &dp,
                    const Bytes &dq, const Bytes &qinv, Bytes &privateDer, std::string *why);

} // namespace cardsim
