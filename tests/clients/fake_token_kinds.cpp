// The token kinds of the test build of the module: the identity card first, then the
// fake token, which takes any card the identity-card token does not recognise. The
// fake token of this build carries two data objects, so that a client's object
// listing has something to show.
#include <memory>

#include "core/p11_manager.h"
#include "core/token_kinds.h"
#include "fake_token.h"
#include "objects/p11_data_object.h"
#include "token/p11_token_eid.h"

namespace
{

char const *const kListedLabels[] = {"Fake data one", "Fake data two"};

class CP11Token_FakeListed : public vok_test::CP11Token_Fake
{
  public:
    using CP11Token_Fake::CP11Token_Fake;

    void Initialize() override
    {
        CP11Token_Fake::Initialize();
        for (char const *label : kListedLabels) {
            std::unique_ptr<CP11DataObject> object(new CP11DataObject());
            object->SetAttribute(CKA_TOKEN, (unsigned char)1);
            object->SetAttribute(CKA_LABEL, label, (unsigned long)-1);
            object->SetHandle(++m_objectCounter);
            unsigned int before = m_objects.Count();
            m_objects.PushBack(object.get());
            if (m_objects.Count() != before)
                object.release(); // the token owns it now
        }
    }
};

CP11Token *newIdentityCardToken(CP11Slot *slot)
{
    return new CP11Token_eiD(slot);
}

CP11Token *newListedFakeToken(CP11Slot *slot)
{
    return new CP11Token_FakeListed(slot);
}

} // namespace

void vokRegisterTokenKinds(CP11Manager &manager)
{
    manager.AddTokenKind(newIdentityCardToken);
    manager.AddTokenKind(newListedFakeToken);
}
