// Card replies from the fuzz input to the file system's readers: listing, file
// information, whole-file reads of plain and compressed files, the change counters
// and a small write. Properties: no crash or out-of-bounds access, every exchange cap
// holds, and a read that succeeds returns exactly the bytes its CRC vouches for.
#include "card/qvmd_cache.h"
#include "card/qvmd_compress.h"
#include "card/qvmd_file_io.h"
#include "card/qvmd_files.h"
#include "card_fuzz_support.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace
{

using card_fuzz::check;

const unsigned char ROOT[8] = {};
const unsigned char MSCP[8] = {'m', 's', 'c', 'p'};
const unsigned char QV_P11[8] = {'q', 'v', '_', 'p', '1', '1'};
const unsigned char CMAPFILE[8] = {'c', 'm', 'a', 'p', 'f', 'i', 'l', 'e'};
const unsigned char CONT00[8] = {'c', 'o', 'n', 't', '0', '0'};

// Each command costs at most two exchanges (a resend or one GET RESPONSE).
const unsigned long PER_COMMAND = 2;

void readFile(_qv_md_card_struct *card, const unsigned char *dir, const unsigned char *name)
{
    unsigned char *data = nullptr;
    unsigned long length = 0;
    uint32_t rv = QVMD_ReadFile(card, dir, name, &data, &length);
    check((rv == 0) || (data == nullptr && length == 0));
    check(length <= QVCAAPI_MAX_FILE_LENGTH);
    QVMD_Free(card, data);
}

void list(_qv_md_card_struct *card)
{
    unsigned char *names = nullptr;
    unsigned long length = 0;
    if (QVMD_EnumFiles(card, QV_P11, &names, &length, 1) == 0) {
        check(length >= 1 && names[length - 1] == 0);
        QVMD_Free(card, names);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    FuzzedDataProvider input(bytes, size);
    card_fuzz::Card state{&input, 300};
    _qv_md_card_struct card;
    state.Init(&card);
    if (input.ConsumeBool())
        card.transport->protocol = 2; // T=1: 61 xx left to the readers
    while (input.remaining_bytes() > 0) {
        unsigned long before = state.exchanges;
        switch (input.ConsumeIntegralInRange<int>(0, 5)) {
        case 0:
            list(&card);
            check(state.exchanges - before <= PER_COMMAND * QVMD_LIST_MAX_EXCHANGES);
            break;
        case 1: {
            _qv_md_file_info info;
            QVMD_ReadFileInfo(&card, ROOT, CMAPFILE, &info);
            check(state.exchanges - before <= PER_COMMAND);
            break;
        }
        case 2:
            readFile(&card, MSCP, CMAPFILE);
            check(state.exchanges - before <= PER_COMMAND * (1 + QVMD_FILE_MAX_CHUNKS));
            break;
        case 3:
            readFile(&card, QV_P11, CONT00);
            check(state.exchanges - before <= PER_COMMAND * (1 + QVMD_FILE_MAX_CHUNKS));
            break;
        case 4: {
            unsigned char counters[QVMD_CACHE_RECORD];
            QVMD_GetCurrentCache(&card, counters);
            QVMD_OperationChangeCache(&card, input.ConsumeIntegralInRange<unsigned long>(0, 7));
            break;
        }
        default: {
            std::vector<unsigned char> data =
                input.ConsumeBytes<unsigned char>(input.ConsumeIntegralInRange<size_t>(0, 600));
            QVMD_WriteFile(&card, input.ConsumeBool() ? QV_P11 : MSCP, CONT00, data.data(),
                           data.size());
            check(state.exchanges - before <= PER_COMMAND * (2 + 4));
            break;
        }
        }
    }
    QVMD_CardReleaseStruct(&card);
    return 0;
}
