// Any server text: a text that is accepted gives a host that stands in the
// text (a zone as it was written), within its capacity, without a dot at
// its end, and a port and security in range.
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
    if (length == 0 || length == sizeof a.host)
        abort();
    // A literal's zone written "%25zone" stands in the text with its "25".
    std::string host(a.host, length), written = host;
    size_t zone = a.numeric ? host.find('%') : std::string::npos;
    if (zone != std::string::npos)
        written.insert(zone + 1, "25");
    if (text.find(host) == std::string::npos && text.find(written) == std::string::npos)
        abort();
    if ((!a.numeric && host.back() == '.') || (zone != std::string::npos && zone + 1 == length))
        abort(); // a name's dot at the end is dropped; a zone is never empty
    if (a.port == 0 || a.security < SERVER_PLAIN || a.security > SERVER_STARTTLS)
        abort();
    return 0;
}
