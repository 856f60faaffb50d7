// The identity-card token's files in the card directory "qv_p11" that hold what a
// key container cannot: the PKCS#11 attributes of the objects of both containers
// of one number ("contNN"). Data files ("dataNN") are read with the data objects.
#include <memory>

#include "asn1/asn_item.h"
#include "base/linux/linux_log.h"
#include "card/qvmd.h"
#include "objects/p11_container.h"
#include "objects/p11_object.h"
#include "token/p11_token_eid.h"

using vok_log::HL_DEBUG;
using vok_log::HL_ENTER;
using vok_log::HL_INFO;
using vok_log::HL_WARNING;

namespace
{

unsigned char const QV_P11[8] = {'q', 'v', '_', 'p', '1', '1', 0, 0};

using Tree = std::unique_ptr<_asn_t, void (*)(_asn_t *)>;

void freeTree(_asn_t *tree)
{
    asn_item_free(tree);
}

} // namespace

void CP11Token_eiD::readContainerFile(CP11Container *container)
{
    hl_log(HL_ENTER, "CP11Token_eiD::readContainerFile(%p)\n", (void *)container);
    frame("readContainerFile", [&] {
        unsigned char number = container->FindByteAttribute(CKA_CONTAINER_ID);
        unsigned long type = container->FindLongAttribute(CKA_CONTAINER_TYPE);
        unsigned char name[8] = {};
        if (QVMD_PKCS11_FillContainerFileName(m_card, name, number) != 0)
            cardFailed("QVMD_PKCS11_FillContainerFileName", CKR_GENERAL_ERROR);
        hl_log(HL_INFO, "Container file name :\n");
        hl_hd(HL_INFO, name, sizeof(name));
        // Both containers of the number read the same file within one pass; it
        // may be rewritten without the counters moving, so it is kept no longer.
        unsigned char *data = nullptr;
        unsigned long length = 0;
        if (readFile(QV_P11, name, &data, &length, CCardReadCache::PASS) != 0) {
            hl_log(HL_WARNING, "QVMD_ReadFile function call failed.\n");
            return;
        }
        std::unique_ptr<unsigned char, std::function<void(unsigned char *)>> held(
            data, [this](unsigned char *p) { QVMD_Free(m_card, p); });
        if (length == 0)
            return;
        hl_log(HL_DEBUG, "Container file content :\n");
        hl_hd(HL_DEBUG, data, (int)length);
        Tree tree(CP11Object::Decode(data, length), freeTree);
        _asn_t *element = CP11Container::FindEncodedContainer(tree.get(), type);
        if (element != nullptr)
            container->Decode(element, nullptr, nullptr, nullptr, false);
    });
}
