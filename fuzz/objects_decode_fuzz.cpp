// Stored objects and container files read from a card: any octets must be
// either read or refused with a CP11Exception, never crash or leak.
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "asn1/asn_item.h"
#include "base/p11_exception.h"
#include "objects/p11_container.h"
#include "objects/p11_data_object.h"
#include "objects/p11_rsa_private_key.h"
#include "objects/p11_rsa_public_key.h"
#include "objects/p11_template.h"
#include "objects/p11_x509_certificate.h"

namespace
{

template <typename F> void guarded(F &&f)
{
    try {
        f();
    } catch (CP11Exception const &) {
    }
}

// Reads the element into the object, then writes the object back.
void readAndWrite(CP11Object &object, _asn_t *element)
{
    guarded([&] { object.Decode(element, false); });
    guarded([&] { asn_item_free(object.Encode()); });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const *data, size_t size)
{
    _asn_t *items = nullptr;
    guarded([&] { items = CP11Object::Decode(const_cast<uint8_t *>(data), size); });
    if (items == nullptr)
        return 0;

    CP11DataObject dataObject;
    CP11X509Certificate certificate;
    CP11RSAPublicKey publicKey;
    CP11RSAPrivateKey privateKey;
    readAndWrite(dataObject, items);
    readAndWrite(certificate, items);
    readAndWrite(publicKey, items);
    readAndWrite(privateKey, items);

    CP11Template t(nullptr, 0);
    guarded([&] {
        t.Decode(items);
        asn_item_free(t.Encode());
    });

    for (unsigned long type : {21UL, 22UL}) {
        CP11Container container(&publicKey, &privateKey, &certificate);
        container.SetAttribute(CKA_CONTAINER_TYPE, type);
        guarded([&] {
            _asn_t *element = CP11Container::FindEncodedContainer(items, type);
            CP11Template cert(nullptr, 0), pub(nullptr, 0), priv(nullptr, 0);
            container.Decode(element, &cert, &pub, &priv, false);
            container.Decode(element, nullptr, nullptr, nullptr, false);
            asn_item_free(container.Encode(&cert, &pub, &priv));
        });
    }
    asn_item_free(items);
    return 0;
}
