#include "install/directory_trust.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

void put16(Bytes& bytes, size_t at, size_t value) {
    bytes.at(at) = static_cast<unsigned char>(value & 0xFF);
    bytes.at(at + 1) = static_cast<unsigned char>(value >> 8);
}
void put32(Bytes& bytes, size_t at, unsigned long value) {
    put16(bytes, at, value & 0xFFFF);
    put16(bytes, at + 2, value >> 16);
}
void append(Bytes& bytes, const Bytes& more) {
    for (unsigned char byte : more) bytes.push_back(byte);
}

// Identifiers as the platform lays them out: revision 1, the count of
// sub-authorities, the 6-byte authority, then the sub-authorities.
Bytes sid(unsigned char authority, std::vector<unsigned long> subAuthorities) {
    Bytes bytes = {1, static_cast<unsigned char>(subAuthorities.size()), 0, 0, 0, 0, 0, authority};
    for (unsigned long value : subAuthorities) {
        bytes.resize(bytes.size() + 4);
        put32(bytes, bytes.size() - 4, value);
    }
    return bytes;
}
const Bytes systemSid = sid(5, {18});
const Bytes administrators = sid(5, {32, 544});
const Bytes users = sid(5, {32, 545});
const Bytes everyone = sid(1, {0});
const Bytes authenticatedUsers = sid(5, {11});
const Bytes creatorOwner = sid(3, {0});
const Bytes user = sid(5, {21, 1004362972, 1177238915, 682003330, 1001});
const Bytes otherUser = sid(5, {21, 1004362972, 1177238915, 682003330, 1002});
// The user Wine runs everything as.
const Bytes wineUser = sid(5, {21, 0, 0, 0, 1000});

constexpr unsigned char allowed = 0x00, denied = 0x01, audit = 0x02, allowedObject = 0x05, allowedCallback = 0x09,
                        deniedCallback = 0x0A, label = 0x11;
constexpr unsigned char inherited = 0x03, inheritOnly = 0x0B;  // object and container inherit, and inherit-only
constexpr unsigned long fullControl = 0x001F01FF, readAndRun = 0x001200A9, modify = 0x001301BF;

struct Entry {
    unsigned char type;
    unsigned char flags;
    unsigned long mask;
    Bytes sid;
};

Bytes entryBytes(const Entry& entry) {
    Bytes bytes(8);
    bytes[0] = entry.type;
    bytes[1] = entry.flags;
    put32(bytes, 4, entry.mask);
    append(bytes, entry.sid);
    put16(bytes, 2, bytes.size());
    return bytes;
}

// A self-relative descriptor with an owner (none when empty) and, unless
// `listPresent` is false, an access list (a NULL one when `nullList`).
struct Descriptor {
    Bytes owner;
    std::vector<Entry> entries;
    bool listPresent = true;
    bool nullList = false;
};

Bytes descriptorBytes(const Descriptor& d) {
    Bytes bytes(20);
    bytes[0] = 1;
    put16(bytes, 2, 0x8000 | (d.listPresent ? 0x0004 : 0));
    if (!d.owner.empty()) {
        put32(bytes, 4, bytes.size());
        append(bytes, d.owner);
    }
    if (d.listPresent && !d.nullList) {
        const size_t list = bytes.size();
        put32(bytes, 16, list);
        bytes.resize(list + 8);
        bytes[list] = 2;
        put16(bytes, list + 4, d.entries.size());
        for (const Entry& entry : d.entries) append(bytes, entryBytes(entry));
        put16(bytes, list + 2, bytes.size() - list);
    }
    return bytes;
}

// What a user's own folder holds on Windows.
const std::vector<Entry> ownFolder = {
    {allowed, inherited, fullControl, systemSid},
    {allowed, inherited, fullControl, administrators},
    {allowed, inherited, fullControl, user},
};

TEST(DirectoryTrust, AnEntryLetsOthersChangeOnlyWithAChangeRightOnTheDirectoryItself) {
    struct Case {
        const char* what;
        Entry entry;
        bool letsOthersChange;
    } cases[] = {
        {"the user, full control", {allowed, inherited, fullControl, user}, false},
        {"SYSTEM, full control", {allowed, 0, fullControl, systemSid}, false},
        {"the Administrators, full control", {allowed, 0, fullControl, administrators}, false},
        {"everyone may read and list", {allowed, inherited, readAndRun, everyone}, false},
        {"Users may read and list", {allowed, inherited, readAndRun, users}, false},
        {"everyone may add a file", {allowed, 0, 0x00000002, everyone}, true},
        {"everyone may add a folder", {allowed, 0, 0x00000004, everyone}, true},
        {"everyone may delete entries", {allowed, 0, 0x00000040, everyone}, true},
        {"everyone may delete the directory", {allowed, 0, 0x00010000, everyone}, true},
        {"everyone may change the list", {allowed, 0, 0x00040000, everyone}, true},
        {"everyone may take ownership", {allowed, 0, 0x00080000, everyone}, true},
        {"everyone has generic all", {allowed, 0, 0x10000000, everyone}, true},
        {"everyone has generic write", {allowed, 0, 0x40000000, everyone}, true},
        {"everyone may list", {allowed, 0, 0x00000001, everyone}, false},
        {"everyone may write extended attributes", {allowed, 0, 0x00000010, everyone}, false},
        {"everyone may pass through", {allowed, 0, 0x00000020, everyone}, false},
        {"everyone may write attributes", {allowed, 0, 0x00000100, everyone}, false},
        {"everyone may read the list", {allowed, 0, 0x00020000, everyone}, false},
        {"C:\\ on Windows: authenticated users may modify", {allowed, inherited, modify, authenticatedUsers}, true},
        {"another user, full control", {allowed, inherited, fullControl, otherUser}, true},
        {"creator owner on the directory itself", {allowed, 0, fullControl, creatorOwner}, true},
        {"inherit-only: for what is made below", {allowed, inheritOnly, fullControl, everyone}, false},
        {"inherit-only creator owner, as usual", {allowed, inheritOnly, fullControl, creatorOwner}, false},
        {"a deny entry grants nothing", {denied, 0, fullControl, everyone}, false},
        {"a conditional deny grants nothing", {deniedCallback, 0, fullControl, everyone}, false},
        {"an audit entry grants nothing", {audit, 0, fullControl, everyone}, false},
        {"a label grants nothing", {label, 0, 0x00000001, sid(16, {12288})}, false},
        {"a conditional grant to everyone", {allowedCallback, 0, modify, everyone}, true},
        {"a conditional grant to the user", {allowedCallback, 0, modify, user}, false},
        {"an object grant, its identifier elsewhere", {allowedObject, 0, modify, {}}, true},
        {"a kind not known today", {0x20, 0, modify, {}}, true},
    };
    for (const Case& c : cases) {
        const AccessEntry entry = {c.entry.type, c.entry.flags, c.entry.mask,
                                   c.entry.sid.empty() ? nullptr : c.entry.sid.data(), c.entry.sid.size()};
        EXPECT_EQ(entryLetsOthersChange(entry, user.data(), user.size()), c.letsOthersChange) << c.what;
    }
}

TEST(DirectoryTrust, TheOwnerAndEveryEntryDecide) {
    auto with = [](std::vector<Entry> entries, Entry added) {
        entries.push_back(added);
        return entries;
    };
    struct Case {
        const char* what;
        Descriptor descriptor;
        DirectoryTrust trust;
    } cases[] = {
        {"the user's own folder", {user, ownFolder}, DirectoryTrust::trusted},
        {"owned by SYSTEM", {systemSid, ownFolder}, DirectoryTrust::trusted},
        {"owned by the Administrators", {administrators, ownFolder}, DirectoryTrust::trusted},
        {"owned by another user", {otherUser, ownFolder}, DirectoryTrust::foreignOwner},
        {"owned by everyone", {everyone, ownFolder}, DirectoryTrust::foreignOwner},
        {"no owner", {{}, ownFolder}, DirectoryTrust::foreignOwner},
        {"no access list", {user, {}, false}, DirectoryTrust::othersMayChange},
        {"a NULL access list", {user, {}, true, true}, DirectoryTrust::othersMayChange},
        {"an empty access list", {user, {}}, DirectoryTrust::trusted},
        {"made under C:\\ on Windows",
         {administrators, with(ownFolder, {allowed, inherited, modify, authenticatedUsers})},
         DirectoryTrust::othersMayChange},
        {"users may read", {user, with(ownFolder, {allowed, inherited, readAndRun, users})}, DirectoryTrust::trusted},
        {"inherit-only grant and a deny",
         {user, with(with(ownFolder, {allowed, inheritOnly, modify, everyone}), {denied, 0, modify, everyone})},
         DirectoryTrust::trusted},
        {"a deny does not cancel a grant",
         {user, with(with(ownFolder, {denied, 0, modify, everyone}), {allowed, 0, modify, everyone})},
         DirectoryTrust::othersMayChange},
        // Wine makes the descriptor from the Unix mode: the other users'
        // bits become a grant to everyone.
        {"Wine, mode 755",
         {wineUser,
          {{allowed, inherited, fullControl, systemSid},
           {allowed, inherited, fullControl, wineUser},
           {allowed, inherited, readAndRun, everyone}}},
         DirectoryTrust::trusted},
        {"Wine, mode 777",
         {wineUser,
          {{allowed, inherited, fullControl, systemSid},
           {allowed, inherited, fullControl, wineUser},
           {allowed, inherited, 0x001301FF, everyone}}},
         DirectoryTrust::othersMayChange},
    };
    for (const Case& c : cases) {
        const Bytes bytes = descriptorBytes(c.descriptor);
        const Bytes& runAs = c.descriptor.owner == wineUser ? wineUser : user;
        EXPECT_EQ(judgeExistingDirectory(bytes.data(), bytes.size(), runAs.data(), runAs.size(), true), c.trust)
            << c.what;
    }
}

TEST(DirectoryTrust, AFileSystemWithoutAccessListsIsEveryones) {
    const Bytes bytes = descriptorBytes({user, ownFolder});
    EXPECT_EQ(judgeExistingDirectory(bytes.data(), bytes.size(), user.data(), user.size(), false),
              DirectoryTrust::noAccessLists);
}

TEST(DirectoryTrust, ADescriptorThatIsNotWholeIsNeverTrusted) {
    const Bytes whole = descriptorBytes({user, ownFolder});
    auto judged = [](Bytes bytes) {
        return judgeExistingDirectory(bytes.data(), bytes.size(), user.data(), user.size(), true);
    };
    ASSERT_EQ(judged(whole), DirectoryTrust::trusted);
    EXPECT_EQ(judgeExistingDirectory(nullptr, 0, user.data(), user.size(), true), DirectoryTrust::unreadable);
    // Cut anywhere: never trusted.
    for (size_t size = 0; size < whole.size(); ++size) {
        EXPECT_NE(judged(Bytes(whole.begin(), whole.begin() + size)), DirectoryTrust::trusted) << size;
    }
    Bytes absolute = whole;
    put16(absolute, 2, 0x0004);
    EXPECT_EQ(judged(absolute), DirectoryTrust::unreadable) << "not self-relative";
    Bytes ownerOutside = whole;
    put32(ownerOutside, 4, whole.size());
    EXPECT_EQ(judged(ownerOutside), DirectoryTrust::unreadable);
    Bytes listOutside = whole;
    put32(listOutside, 16, whole.size() - 4);
    EXPECT_EQ(judged(listOutside), DirectoryTrust::unreadable);
    // An entry longer than the list, or one too short for its header.
    const size_t list = 20 + user.size();
    Bytes longEntry = whole;
    put16(longEntry, list + 8 + 2, 0x400);
    EXPECT_EQ(judged(longEntry), DirectoryTrust::unreadable);
    Bytes shortEntry = whole;
    put16(shortEntry, list + 8 + 2, 4);
    EXPECT_EQ(judged(shortEntry), DirectoryTrust::unreadable);
    Bytes moreEntries = whole;
    put16(moreEntries, list + 4, 4);
    EXPECT_EQ(judged(moreEntries), DirectoryTrust::unreadable) << "more entries counted than there are";
}

}  // namespace
