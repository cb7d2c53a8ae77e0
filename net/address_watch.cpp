#include "address_watch.h"
#include <winsock2.h>
#include <windows.h>

// One change request per address family: a network that comes back with
// IPv6 addresses only is noticed too. The system signals a request's event
// once, so the request is made again after each change it reported.
struct Watch {
    SOCKET socket;
    WSAOVERLAPPED pending;
};
static Watch watches[2] = {{INVALID_SOCKET, {}}, {INVALID_SOCKET, {}}};
static const int FAMILIES[2] = {AF_INET, AF_INET6};
static int started;

static int ask_for_next_change(Watch *w)
{
    DWORD unused;
    WSAEVENT event = w->pending.hEvent;
    ZeroMemory(&w->pending, sizeof w->pending);
    w->pending.hEvent = event;
    WSAResetEvent(event);
    int rc = WSAIoctl(w->socket, SIO_ADDRESS_LIST_CHANGE, NULL, 0, NULL, 0, &unused, &w->pending, NULL);
    return rc == 0 || WSAGetLastError() == WSA_IO_PENDING;
}

static int watch_family(Watch *w, int family)
{
    w->socket = socket(family, SOCK_DGRAM, IPPROTO_UDP);
    w->pending.hEvent = WSACreateEvent();
    if (w->socket != INVALID_SOCKET && w->pending.hEvent != WSA_INVALID_EVENT && ask_for_next_change(w))
        return 1;
    if (w->socket != INVALID_SOCKET)
        closesocket(w->socket);
    w->socket = INVALID_SOCKET;
    return 0;
}

int address_watch_start(void)
{
    WSADATA data;
    if (started || WSAStartup(0x0202, &data) != 0)
        return started;
    started = 1;
    int watching = 0;
    for (int i = 0; i < 2; i++)
        watching |= watch_family(&watches[i], FAMILIES[i]);
    return watching;
}

static int changed(Watch *w)
{
    if (w->socket == INVALID_SOCKET || WaitForSingleObject(w->pending.hEvent, 0) != WAIT_OBJECT_0)
        return 0;
    ask_for_next_change(w);
    return 1;
}

int address_watch_changed(void)
{
    if (!started)
        return 0;
    int any = changed(&watches[0]);
    return changed(&watches[1]) || any;
}
