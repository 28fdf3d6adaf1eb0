// What arrives on the instance socket: a later start's request, and the running one's reply.
#include "app/instance_request.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    if (const auto request = orvane::InstanceRequest::decode(bytes)) {
        const QByteArray encoded = request->encode();
        if (!orvane::InstanceRequest::decode(encoded.chopped(1)))
            __builtin_trap();
    }
    (void)orvane::InstanceReply::decode(bytes);
    return 0;
}
