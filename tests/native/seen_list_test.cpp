// The uids a check has seen: what counts as unseen, and the file that keeps
// them, read back only for its own account and only when whole.
#include <gtest/gtest.h>
#include "pop3/pop3_session.h"
#include "pop3/seen_list.h"
#include <string.h>
#include <limits>
#include <string>
#include <vector>

namespace {

typedef std::vector<std::string> Uids;
typedef std::vector<unsigned char> Bytes;

struct List {
    SeenList l;
    explicit List(const Uids &uids)
    {
        seen_list_init(&l);
        for (const std::string &u : uids)
            EXPECT_TRUE(seen_list_add(&l, u.data(), u.size()));
        EXPECT_TRUE(seen_list_finish(&l));
    }
    ~List() { seen_list_free(&l); }
    Uids sorted() const { return Uids(l.sorted, l.sorted + l.count); }
};

SeenMark mark_of(uint32_t count, const std::string &uid)
{
    SeenMark m;
    memset(&m, 0, sizeof m);
    m.count = count;
    memcpy(m.uid, uid.data(), uid.size());
    return m;
}

Bytes encode(const char *server, const char *user, const SeenMark &mark, const List &list)
{
    Bytes out(seen_file_size(server, user, &list.l));
    size_t size = 0;
    EXPECT_TRUE(encode_seen_file(server, user, &mark, &list.l, out.data(), out.size(), &size));
    out.resize(size);
    return out;
}

Bytes bytes_of(const std::string &s) { return Bytes(s.begin(), s.end()); }

TEST(SeenList, UnseenAreTheUidsNotSeenBeforeEachCountedOnce)
{
    struct {
        Uids before, now;
        size_t unseen;
    } cases[] = {
        {{}, {"a", "b", "c"}, 3},
        {{"a", "b", "c"}, {"a", "b", "c"}, 0},
        {{"a", "b", "c"}, {"c", "a"}, 0},
        {{"a", "b", "c"}, {"b", "c", "d"}, 1},
        {{"a", "b"}, {"d", "d", "a", "d"}, 1},
        {{"x"}, {}, 0},
    };
    for (auto &c : cases) {
        List before(c.before), now(c.now);
        EXPECT_EQ(seen_list_unseen(&now.l, &before.l), c.unseen);
    }
}

TEST(SeenFile, GoldenImageAndRoundTrip)
{
    std::string longest(POP3_UID_MAX, '~');
    List uids({"b2", "a1", longest, "b2"});
    for (const std::string &last : {longest, std::string()}) {
        SeenMark kept = mark_of(4, last);
        memcpy(kept.first, last.c_str(), last.size() + 1);
        Bytes file = encode("pop.example.jp", "taro", kept, uids);
        EXPECT_EQ(file, bytes_of("Sorvane seen-mail 3\npop.example.jp\ntaro\n4\n" + last + "\n" + last + "\na1\nb2\n" +
                                 longest + "\n.\n"));
        EXPECT_EQ(seen_file_size("pop.example.jp", "taro", &uids.l) >= file.size(), true);

        SeenList back;
        seen_list_init(&back);
        SeenMark mark = mark_of(9, "x");
        EXPECT_EQ(decode_seen_file(file.data(), file.size(), "pop.example.jp", "taro", &mark, &back), SEEN_FILE_READ);
        EXPECT_EQ(mark.count, 4u);
        EXPECT_EQ(mark.uid, last);
        EXPECT_EQ(mark.first, last);
        EXPECT_EQ(Uids(back.sorted, back.sorted + back.count), uids.sorted());
        seen_list_free(&back);
    }
}

// A file of the first version has no last uid: it loads, with the last
// uid not known.
TEST(SeenFile, AFileOfTheFirstVersionLoadsWithoutItsLastUid)
{
    Bytes file = bytes_of("Sorvane seen-mail 1\nsrv\nusr\n3\na\nb\n.\n");
    SeenList back;
    seen_list_init(&back);
    SeenMark mark = mark_of(9, "x");
    EXPECT_EQ(decode_seen_file(file.data(), file.size(), "srv", "usr", &mark, &back), SEEN_FILE_READ);
    EXPECT_EQ(mark.count, 3u);
    EXPECT_EQ(mark.uid, std::string());
    EXPECT_EQ(Uids(back.sorted, back.sorted + back.count), (Uids{"a", "b"}));
    seen_list_free(&back);
}

// The head alone (the uids not asked for) gives the mark, however much
// of the list follows it.
TEST(SeenFile, TheHeadAloneGivesTheMark)
{
    const std::string head = "Sorvane seen-mail 3\nsrv\nusr\n7\nlast\nfirst\n";
    struct {
        std::string file;
        int outcome;
        uint32_t count;
        const char *uid;
    } cases[] = {
        {head, SEEN_FILE_READ, 7, "last"},
        {head + "a\nb", SEEN_FILE_READ, 7, "last"},
        {"Sorvane seen-mail 1\nsrv\nusr\n7\n", SEEN_FILE_READ, 7, ""},
        {"Sorvane seen-mail 2\nsrv\nusr\n7\nlast\n", SEEN_FILE_READ, 7, "last"},
        {"Sorvane seen-mail 2\nsrv\nother\n7\nlast\n", SEEN_FILE_OTHER_ACCOUNT, 0, ""},
        {head.substr(0, head.size() - 1), SEEN_FILE_DAMAGED, 0, ""},
    };
    for (auto &c : cases) {
        SeenMark mark = mark_of(9, "x");
        Bytes b = bytes_of(c.file);
        EXPECT_EQ(decode_seen_file(b.data(), b.size(), "srv", "usr", &mark, NULL), c.outcome) << c.file;
        EXPECT_EQ(mark.count, c.count) << c.file;
        EXPECT_STREQ(mark.uid, c.uid) << c.file;
    }
}

// The count is kept in a type of fixed width, so its digits always fit.
TEST(SeenFile, TheLargestCountRoundTrips)
{
    const auto most = std::numeric_limits<decltype(SeenMark::count)>::max();
    List uids({"a"});
    Bytes file = encode("srv", "usr", mark_of(most, "a"), uids);
    EXPECT_EQ(file, bytes_of("Sorvane seen-mail 3\nsrv\nusr\n" + std::to_string(most) + "\na\n\na\n.\n"));
    SeenList back;
    seen_list_init(&back);
    SeenMark mark = mark_of(0, "");
    EXPECT_EQ(decode_seen_file(file.data(), file.size(), "srv", "usr", &mark, &back), SEEN_FILE_READ);
    EXPECT_EQ(mark.count, most);
    seen_list_free(&back);
}

// A file of the first version keeping `count` distinct uids.
std::string file_of_uids(size_t count)
{
    std::string file = "Sorvane seen-mail 1\nsrv\nusr\n" + std::to_string(count) + "\n";
    for (size_t n = 0; n < count; n++)
        file += "u" + std::to_string(n) + "\n";
    return file + ".\n";
}

TEST(SeenFile, AFileAtTheBoundOfTheListingLoadsWhole)
{
    Bytes b = bytes_of(file_of_uids(POP3_MULTILINE_MAX_LINES));
    SeenList l;
    seen_list_init(&l);
    SeenMark mark = mark_of(9, "x");
    EXPECT_EQ(decode_seen_file(b.data(), b.size(), "srv", "usr", &mark, &l), SEEN_FILE_READ);
    EXPECT_EQ(l.count, (size_t)POP3_MULTILINE_MAX_LINES);
    seen_list_free(&l);
}

TEST(SeenFile, AnotherAccountOrADamagedFileStartsAfresh)
{
    const std::string good = "Sorvane seen-mail 1\nsrv\nusr\n2\na\nb\n.\n";
    const std::string good2 = "Sorvane seen-mail 2\nsrv\nusr\n2\nb\na\nb\n.\n";
    struct {
        const char *name;
        std::string file;
        int outcome;
    } cases[] = {
        {"another server", "Sorvane seen-mail 1\nsrv2\nusr\n2\na\n.\n", SEEN_FILE_OTHER_ACCOUNT},
        {"another user", "Sorvane seen-mail 1\nsrv\nUSR\n2\na\n.\n", SEEN_FILE_OTHER_ACCOUNT},
        {"another format", "Sorvane seen-mail 4\nsrv\nusr\n2\nb\na\n.\n", SEEN_FILE_DAMAGED},
        {"another server, version 2", "Sorvane seen-mail 2\nsrv2\nusr\n2\na\na\n.\n", SEEN_FILE_OTHER_ACCOUNT},
        {"last uid of 71 bytes", "Sorvane seen-mail 2\nsrv\nusr\n1\n" + std::string(71, 'u') + "\n.\n",
         SEEN_FILE_DAMAGED},
        {"last uid with a blank", "Sorvane seen-mail 2\nsrv\nusr\n1\na b\na\n.\n", SEEN_FILE_DAMAGED},
        {"version 2 without its last uid", "Sorvane seen-mail 2\nsrv\nusr\n1\n.\n", SEEN_FILE_DAMAGED},
        {"empty", "", SEEN_FILE_DAMAGED},
        {"count not a number", "Sorvane seen-mail 1\nsrv\nusr\n2x\na\n.\n", SEEN_FILE_DAMAGED},
        {"count too large", "Sorvane seen-mail 1\nsrv\nusr\n99999999999999999999\n.\n", SEEN_FILE_DAMAGED},
        {"uid of 71 bytes", "Sorvane seen-mail 1\nsrv\nusr\n1\n" + std::string(71, 'u') + "\n.\n",
         SEEN_FILE_DAMAGED},
        {"uid with a blank", "Sorvane seen-mail 1\nsrv\nusr\n1\na b\n.\n", SEEN_FILE_DAMAGED},
        {"empty uid", "Sorvane seen-mail 1\nsrv\nusr\n1\n\n.\n", SEEN_FILE_DAMAGED},
        {"bytes after the end", good + "c\n", SEEN_FILE_DAMAGED},
        {"one uid past the bound", file_of_uids(POP3_MULTILINE_MAX_LINES + 1), SEEN_FILE_DAMAGED},
    };
    for (auto &c : cases) {
        SeenList l;
        seen_list_init(&l);
        seen_list_add(&l, "old", 3);
        seen_list_finish(&l);
        SeenMark mark = mark_of(9, "x");
        Bytes b = bytes_of(c.file);
        EXPECT_EQ(decode_seen_file(b.data(), b.size(), "srv", "usr", &mark, &l), c.outcome) << c.name;
        EXPECT_EQ(mark.count, 0u) << c.name;
        EXPECT_EQ(mark.uid[0], '\0') << c.name;
        EXPECT_EQ(l.count, 0u) << c.name;
        seen_list_free(&l);
    }
    // Cut anywhere, a file of either version is damaged.
    for (const std::string &whole : {good, good2}) {
        for (size_t cut = 0; cut < whole.size(); cut++) {
            SeenList l;
            seen_list_init(&l);
            SeenMark mark = mark_of(9, "x");
            Bytes b = bytes_of(whole.substr(0, cut));
            EXPECT_EQ(decode_seen_file(b.data(), b.size(), "srv", "usr", &mark, &l), SEEN_FILE_DAMAGED) << cut;
            seen_list_free(&l);
        }
    }
}

TEST(SeenFile, AnAccountWithALineBreakIsNotWritten)
{
    List uids({"a"});
    unsigned char out[256];
    size_t size;
    const SeenMark mark = mark_of(1, "a");
    EXPECT_FALSE(encode_seen_file("srv\n", "usr", &mark, &uids.l, out, sizeof out, &size));
    EXPECT_FALSE(encode_seen_file("srv", "u\rsr", &mark, &uids.l, out, sizeof out, &size));
    EXPECT_FALSE(encode_seen_file("srv", "usr", &mark, &uids.l, out, 20, &size));
}

} // namespace
