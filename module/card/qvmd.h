// The card application layer as a whole: plain functions grouped by prefix
// (QVCAAPI_ transport, QVMD_ card layer, QVDES_ DES provider) that take the card
// context (or the transport) first and return 0 or a code of qv_result.h.
#pragma once

#include "card/apdu.h"
#include "card/qv_result.h"
#include "card/qvcaapi.h"
#include "card/qvdes.h"
#include "card/qvdes_prov.h"
#include "card/qvmd_atr.h"
#include "card/qvmd_card.h"
#include "card/qvmd_card_data.h"
#include "card/qvmd_info.h"
#include "card/qvmd_names.h"
#include "card/qvmd_pin_records.h"
#include "card/qvmd_sw.h"
#include "card/token_transmit.h"

// Files, their compression and change counters, the container map and its lists.
#include "card/cmap_file.h"
#include "card/list_data.h"
#include "card/lzh.h"
#include "card/qvmd_cache.h"
#include "card/qvmd_compress.h"
#include "card/qvmd_file_commands.h"
#include "card/qvmd_file_io.h"
#include "card/qvmd_files.h"

// Secure messaging, the secure sender and on-card RSA, PINs, key containers and the
// card-data writers.
#include "card/qvmd_card_write.h"
#include "card/qvmd_container.h"
#include "card/qvmd_pin.h"
#include "card/qvmd_secure.h"
#include "card/qvmd_sm.h"
