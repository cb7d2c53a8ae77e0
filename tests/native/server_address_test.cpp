// The forms the server box accepts, and the texts it refuses.
#include <gtest/gtest.h>
#include "net/server_address.h"
#include <string>

namespace {

struct Case {
    const char *text;
    const char *host; // NULL: refused
    unsigned short port;
    int security;
    int numeric;
};

TEST(ServerAddress, EachFormGivesHostPortAndSecurity)
{
    const std::string longest(127, 'h'), tooLong(128, 'h');
    const Case cases[] = {
        {"mail.example.jp", "mail.example.jp", 110, SERVER_PLAIN, 0},
        {"192.0.2.7", "192.0.2.7", 110, SERVER_PLAIN, 0},
        {"mail.example.jp:1110", "mail.example.jp", 1110, SERVER_PLAIN, 0},
        {"[2001:db8::7]:110", "2001:db8::7", 110, SERVER_PLAIN, 1},
        {"[::1]", "::1", 110, SERVER_PLAIN, 1},
        {"[fe80::1%3]:1", "fe80::1%3", 1, SERVER_PLAIN, 1},
        {"[::ffff:192.0.2.7]", "::ffff:192.0.2.7", 110, SERVER_PLAIN, 1},
        {"mail.example.jp:995", "mail.example.jp", 995, SERVER_TLS, 0},
        {"mail.example.jp:0995", "mail.example.jp", 995, SERVER_TLS, 0},
        {"pop3s://mail.example.jp", "mail.example.jp", 995, SERVER_TLS, 0},
        {"POP3S://mail.example.jp:110", "mail.example.jp", 110, SERVER_TLS, 0},
        {"pop3s://[::1]:65535", "::1", 65535, SERVER_TLS, 1},
        {"starttls://mail.example.jp", "mail.example.jp", 110, SERVER_STARTTLS, 0},
        {"StartTLS://mail.example.jp:995", "mail.example.jp", 995, SERVER_STARTTLS, 0},
        {longest.c_str(), longest.c_str(), 110, SERVER_PLAIN, 0},
        {"\x83\x81\x81\x5B\x83\x8B.jp", "\x83\x81\x81\x5B\x83\x8B.jp", 110, SERVER_PLAIN, 0},
        // A fully-qualified name's dot is dropped: TLS sends and checks the
        // name without it.
        {"mail.example.jp.", "mail.example.jp", 110, SERVER_PLAIN, 0},
        {"pop3s://mail.example.jp.:1995", "mail.example.jp", 1995, SERVER_TLS, 0},
        {"localhost.", "localhost", 110, SERVER_PLAIN, 0},
        // A zone as a URL writes it (RFC 6874) or plain; "%25" alone is zone 25.
        {"[fe80::1%25eth0]", "fe80::1%eth0", 110, SERVER_PLAIN, 1},
        {"pop3s://[fe80::1%253]:995", "fe80::1%3", 995, SERVER_TLS, 1},
        {"[fe80::1%eth0.100]", "fe80::1%eth0.100", 110, SERVER_PLAIN, 1},
        {"[fe80::1%25]", "fe80::1%25", 110, SERVER_PLAIN, 1},
        {"[fe80::1%2525]", "fe80::1%25", 110, SERVER_PLAIN, 1},
        // refused
        {"", NULL, 0, 0, 0},
        {"imap://mail.example.jp", NULL, 0, 0, 0},
        {"://mail.example.jp", NULL, 0, 0, 0},
        {"pop3s://", NULL, 0, 0, 0},
        {"pop3s://:995", NULL, 0, 0, 0},
        {":110", NULL, 0, 0, 0},
        {"mail.example.jp:", NULL, 0, 0, 0},
        {"mail.example.jp:0", NULL, 0, 0, 0},
        {"mail.example.jp:65536", NULL, 0, 0, 0},
        {"mail.example.jp:99999999999999999999", NULL, 0, 0, 0},
        {"mail.example.jp:-1", NULL, 0, 0, 0},
        {"mail.example.jp:11a", NULL, 0, 0, 0},
        {"mail.example.jp:110:1", NULL, 0, 0, 0},
        {"mail.example.jp:110/", NULL, 0, 0, 0},
        {"pop3s://mail.example.jp/", NULL, 0, 0, 0},
        {"mail example.jp", NULL, 0, 0, 0},
        {"2001:db8::7", NULL, 0, 0, 0},
        {"[2001:db8::7", NULL, 0, 0, 0},
        {"[]", NULL, 0, 0, 0},
        {"[mail.example.jp]", NULL, 0, 0, 0},
        {"[::1%]", NULL, 0, 0, 0},
        {"[::1%25%]", NULL, 0, 0, 0},
        {"[::1%eth 0]", NULL, 0, 0, 0},
        {"[::1%eth/0]", NULL, 0, 0, 0},
        {".", NULL, 0, 0, 0},
        {"pop3s://.", NULL, 0, 0, 0},
        {"mail.example.jp..", NULL, 0, 0, 0},
        {"mail.example.jp.:", NULL, 0, 0, 0},
        {"[::1]x", NULL, 0, 0, 0},
        {"[::1]:", NULL, 0, 0, 0},
        {tooLong.c_str(), NULL, 0, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string("\"") + c.text + "\"");
        ServerAddress a;
        int ok = parse_server_address(c.text, &a);
        ASSERT_EQ(ok, c.host != NULL);
        if (!ok)
            continue;
        EXPECT_STREQ(a.host, c.host);
        EXPECT_EQ(a.port, c.port);
        EXPECT_EQ(a.security, c.security);
        EXPECT_EQ(a.numeric, c.numeric);
    }
}

} // namespace
