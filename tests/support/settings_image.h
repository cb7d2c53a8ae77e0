// A settings file written out by hand, field by field as the format lays it
// out, independent of the program's own writer: for files that the tests
// give the program, and for the bytes they expect back.
#ifndef SORVANE_SETTINGS_IMAGE_H
#define SORVANE_SETTINGS_IMAGE_H

#include <stddef.h>
#include <string>
#include <vector>

namespace image {

typedef std::vector<unsigned char> Bytes;

// The extension block of version 1 with its one byte of flags (bit 0:
// only mail not seen before, bit 3: quiet when an automatic check cannot
// reach the server); its check byte is the complement of the sum of
// version, length and value.
inline Bytes extension_block(unsigned char flags)
{
    return {'S', 'V', 'E', 'X', 1, 1, flags, (unsigned char)~(2 + flags)};
}
const Bytes UNSEEN_ONLY_BLOCK = extension_block(1);

// A text field: the value and its line end, scrambled.
inline Bytes text_field(const std::string &value)
{
    Bytes b;
    for (char c : value + "\n")
        b.push_back((unsigned char)(c ^ 0xE5));
    return b;
}

struct File {
    Bytes bytes{20};          // the version byte, then the fields
    std::vector<size_t> ends; // the offset just past each field

    void text(const std::string &value) { add(text_field(value)); }
    void number(int value)
    {
        unsigned u = (unsigned)value;
        add({(unsigned char)u, (unsigned char)(u >> 8), (unsigned char)(u >> 16), (unsigned char)(u >> 24)});
    }
    void add(const Bytes &field)
    {
        bytes.insert(bytes.end(), field.begin(), field.end());
        ends.push_back(bytes.size());
    }
};

// The eleven fields in file order, of any record that names them as the
// format does (the program's record, or a driver's own).
template <class Record> File file_of(const Record &r)
{
    File f;
    f.text(r.server);
    f.text(r.user);
    f.text(r.pass);
    f.text(std::to_string(r.autoCheckTime));
    f.number(r.showProgress);
    f.text(r.mailPath);
    f.number(r.mailPathAsk);
    f.text(r.oksndPath);
    f.number(r.okMes);
    f.text(r.nosndPath);
    f.number(r.noMes);
    return f;
}

// The accounts file: "SVAC", version 1, the count, each account's three
// text fields and flags byte, then FNV-1a of all that, little-endian.
struct Account {
    std::string server, user, pass;
    unsigned char flags;
};
inline Bytes accounts_file(const std::vector<Account> &accounts)
{
    Bytes b = {'S', 'V', 'A', 'C', 1, (unsigned char)accounts.size()};
    for (const Account &a : accounts) {
        for (const std::string *t : {&a.server, &a.user, &a.pass}) {
            Bytes f = text_field(*t);
            b.insert(b.end(), f.begin(), f.end());
        }
        b.push_back(a.flags);
    }
    unsigned h = 2166136261u;
    for (unsigned char c : b)
        h = (h ^ c) * 16777619u;
    for (int i = 0; i < 4; i++)
        b.push_back((unsigned char)(h >> (8 * i)));
    return b;
}

} // namespace image

#endif
