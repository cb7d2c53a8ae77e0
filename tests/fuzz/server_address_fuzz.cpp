// Any server text: a text that is accepted gives a host that stands in the
// text, within its capacity, and a port and security in range.
#include "net/server_address.h"
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text(reinterpret_cast<const char *>(data), size);
    ServerAddress a;
    if (!parse_server_address(text.c_str(), &a))
        return 0;
    size_t length = strnlen(a.host, sizeof a.host);
    if (length == 0 || length == sizeof a.host || !strstr(text.c_str(), a.host))
        abort();
    if (a.port == 0 || a.security < SERVER_PLAIN || a.security > SERVER_STARTTLS)
        abort();
    return 0;
}
