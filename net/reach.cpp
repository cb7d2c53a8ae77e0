#include "reach.h"
#include "net_session.h"

int server_answers(const char *server, unsigned long limitMs)
{
    NetSession n;
    NetLink link;
    ServerAddress address;
    net_session_begin(&n, &link);
    int answered = parse_server_address(server, &address) && link.start(link.self) &&
                   link.look_up(link.self, &address) && link.open(link.self, limitMs) == NET_CONNECTED;
    net_session_end(&n);
    return answered;
}
