// The module's ASN.1 library: item tree, DER codec, value codecs, navigation and editing,
// and the X.509 certificate context.
#pragma once

#include "asn1/asn_item.h"
#include "asn1/asn_der.h"
#include "asn1/asn_check.h"
#include "asn1/asn_value.h"
#include "asn1/asn_nav.h"
#include "asn1/asn_edit.h"
#include "asn1/asn_cert.h"
