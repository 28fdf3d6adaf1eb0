// The relay's answer to a PIN: any status, any body.
#include "relay/pairing_answer.h"
#include "relay/relay_error.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const int status = 100 + (data[0] << 8 | data[1]) % 500;
    try {
        (void)orvane::PairingAnswer::read(status, QByteArray(reinterpret_cast<const char *>(data) + 2, qsizetype(size - 2)));
    } catch (const orvane::RelayError &) {
    }
    return 0;
}
