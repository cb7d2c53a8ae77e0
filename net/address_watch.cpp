#include "address_watch.h"
#include <winsock2.h>
#include <windows.h>

// The system signals the event once per change request, so the request is
// made again after each change it reported.
static SOCKET watchSocket = INVALID_SOCKET;
static WSAOVERLAPPED pending;
static int started;

static int ask_for_next_change(void)
{
    DWORD unused;
    WSAEVENT event = pending.hEvent;
    ZeroMemory(&pending, sizeof pending);
    pending.hEvent = event;
    WSAResetEvent(event);
    int rc = WSAIoctl(watchSocket, SIO_ADDRESS_LIST_CHANGE, NULL, 0, NULL, 0, &unused, &pending, NULL);
    return rc == 0 || WSAGetLastError() == WSA_IO_PENDING;
}

int address_watch_start(void)
{
    WSADATA data;
    if (started || WSAStartup(0x0202, &data) != 0)
        return started;
    started = 1;
    watchSocket = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    pending.hEvent = WSACreateEvent();
    if (watchSocket != INVALID_SOCKET && pending.hEvent != WSA_INVALID_EVENT && ask_for_next_change())
        return 1;
    if (watchSocket != INVALID_SOCKET)
        closesocket(watchSocket);
    watchSocket = INVALID_SOCKET;
    return 0;
}

int address_watch_changed(void)
{
    if (!started || watchSocket == INVALID_SOCKET || WaitForSingleObject(pending.hEvent, 0) != WAIT_OBJECT_0)
        return 0;
    ask_for_next_change();
    return 1;
}
