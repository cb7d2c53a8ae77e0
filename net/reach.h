// Whether a server can be reached at all: its name looked up and a TCP
// connection made within a time limit, then closed at once without a word
// of POP3. After the machine wakes from sleep the shell asks this before
// it starts the check that the sleep held back.
#ifndef SORVANE_REACH_H
#define SORVANE_REACH_H

// `server` is the settings' server text. 1 when a connection was made.
int server_answers(const char *server, unsigned long limitMs);

#endif
