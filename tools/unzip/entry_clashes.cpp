#include "entry_clashes.h"

#include <stdint.h>

#include <algorithm>

#include "entry_name.h"
#include "unicode_text.h"

namespace {

const char* const sameName = "the same name twice";
const char* const differInCase = "they differ only in case";
const char* const differInTrailing = "they differ only in trailing dots or blanks, which Windows drops";
const char* const differInCaseAndTrailing =
    "they differ only in case and in trailing dots or blanks, which Windows drops";
const char* const fileAndFolder = "one is a file, the other a folder of the same name";
const char* const shortNameAlias = "one may be Windows' short name (NAME~1.EXT) for the other";

// A character as Windows compares names: in upper case.
char16_t folded(char16_t c) {
    if (c < 0x80) return c >= 'a' && c <= 'z' ? static_cast<char16_t>(c - 'a' + 'A') : c;
    return upperCaseOf(c);
}

size_t lengthWithoutTrailingDotsAndBlanks(const char16_t* text, size_t length) {
    while (length > 0 && (text[length - 1] == '.' || text[length - 1] == ' ')) --length;
    return length;
}

bool isShortNameCharacter(char16_t c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
    for (const char* p = "!#$%&'()-@^_`{}~"; *p != 0; ++p) {
        if (static_cast<unsigned char>(*p) == c) return true;
    }
    return false;
}

// An 8.3 name in any case: Windows gives it no second, short name. A name
// with characters beyond ASCII is a long one.
bool isShortName(const char16_t* text, size_t length) {
    size_t dot = 0;
    while (dot < length && text[dot] != '.') ++dot;
    const bool hasDot = dot < length;
    const size_t extensionLength = hasDot ? length - dot - 1 : 0;
    if (dot == 0 || dot > 8 || extensionLength > 3 || (hasDot && extensionLength == 0)) return false;
    for (size_t i = 0; i < length; ++i) {
        if (i != dot && !isShortNameCharacter(text[i])) return false;
    }
    return true;
}

constexpr uint32_t none = 0xffffffffu;

// How a component may meet the short names in its folder.
enum class ShortForm : unsigned char { longName, shortName, alias };

// One component of a name that takes part.
struct Item {
    const char16_t* text;
    uint32_t length;
    uint32_t entry;
    ShortForm form;
};

struct EntryInfo {
    uint32_t firstItem;
    uint32_t itemCount;  // 0: left out
    bool folder;
    uint32_t other;  // the clash found, when `reason` is set
    const char* reason;
};

// The caller's work memory, cut into arrays. A path is a folder, or a file,
// that one or more entries use; id 0 is the destination itself.
struct Work {
    EntryInfo* entries;
    Item* items;
    uint32_t* pathOfItem;
    uint32_t* itemsByDepth;
    uint32_t* depthStart;        // itemsByDepth[depthStart[d] .. depthStart[d + 1]) have depth d
    uint32_t* firstItemOfPath;   // the earliest entry's item of the path
    uint32_t* longNameOfFolder;  // the earliest entry with a long name in the folder
    uint32_t* aliasOfFolder;     // the earliest entry with a short-name alias in it
};

struct Counts {
    uint64_t items;
    uint64_t depth;
};

Counts countItems(const EntryName* names, size_t count) {
    Counts counts{0, 0};
    for (size_t i = 0; i < count; ++i) {
        const uint64_t components = nameComponentCount(names[i].text, names[i].length);
        counts.items += components;
        if (components > counts.depth) counts.depth = components;
    }
    return counts;
}

// Array sizes in the order Work lays them out, each rounded up to 8 bytes.
struct Layout {
    uint64_t sizes[8];
};

Layout layoutFor(size_t count, const Counts& counts) {
    const uint64_t paths = counts.items + 1;
    const uint64_t raw[8] = {uint64_t{count} * sizeof(EntryInfo),
                             counts.items * sizeof(Item),
                             counts.items * 4,
                             counts.items * 4,
                             (counts.depth + 2) * 4,
                             paths * 4,
                             paths * 4,
                             paths * 4};
    Layout layout{};
    for (int i = 0; i < 8; ++i) layout.sizes[i] = (raw[i] + 7) & ~uint64_t{7};
    return layout;
}

Work cutWork(void* memory, const Layout& layout) {
    char* at = static_cast<char*>(memory);
    void* parts[8];
    for (int i = 0; i < 8; ++i) {
        parts[i] = at;
        at += layout.sizes[i];
    }
    return Work{static_cast<EntryInfo*>(parts[0]), static_cast<Item*>(parts[1]),     static_cast<uint32_t*>(parts[2]),
                static_cast<uint32_t*>(parts[3]),  static_cast<uint32_t*>(parts[4]), static_cast<uint32_t*>(parts[5]),
                static_cast<uint32_t*>(parts[6]),  static_cast<uint32_t*>(parts[7])};
}

ShortForm shortFormOf(const char16_t* text, size_t length) {
    if (isShortNameAlias(text, length)) return ShortForm::alias;
    return isShortName(text, length) ? ShortForm::shortName : ShortForm::longName;
}

// Records each entry's components; an entry with a component that is empty
// once its trailing dots and blanks are gone takes no part. Returns the
// number of items of those that do.
uint32_t collectItems(const EntryName* names, size_t count, Work& work) {
    uint32_t itemCount = 0;
    for (size_t entry = 0; entry < count; ++entry) {
        const EntryName& name = names[entry];
        EntryInfo& info = work.entries[entry];
        info = EntryInfo{itemCount, 0, nameIsFolder(name.text, name.length), 0, nullptr};
        uint32_t components = 0;
        bool takesPart = true;
        size_t position = 0;
        NameComponent component;
        while (nextNameComponent(name.text, name.length, position, component)) {
            if (lengthWithoutTrailingDotsAndBlanks(component.text, component.length) == 0) takesPart = false;
            work.items[itemCount + components] =
                Item{component.text, static_cast<uint32_t>(component.length), static_cast<uint32_t>(entry),
                     shortFormOf(component.text, component.length)};
            ++components;
        }
        if (takesPart && components > 0) {
            info.itemCount = components;
            itemCount += components;
        }
    }
    return itemCount;
}

// Sorts the items by depth, entries in order within a depth.
void sortItemsByDepth(size_t count, uint32_t depth, Work& work) {
    for (uint32_t d = 0; d <= depth + 1; ++d) work.depthStart[d] = 0;
    for (size_t entry = 0; entry < count; ++entry) {
        for (uint32_t d = 1; d <= work.entries[entry].itemCount; ++d) ++work.depthStart[d + 1];
    }
    for (uint32_t d = 1; d <= depth; ++d) work.depthStart[d + 1] += work.depthStart[d];
    // depthStart[d] is now where depth d starts: fill from there, then move
    // each back to its depth (filling left it at the start of the next).
    for (size_t entry = 0; entry < count; ++entry) {
        const EntryInfo& info = work.entries[entry];
        for (uint32_t d = 1; d <= info.itemCount; ++d) work.itemsByDepth[work.depthStart[d]++] = info.firstItem + d - 1;
    }
    for (uint32_t d = depth + 1; d > 0; --d) work.depthStart[d] = work.depthStart[d - 1];
    work.depthStart[0] = 0;
    work.depthStart[1] = 0;
}

bool isFirstComponent(const Work& work, uint32_t item) {
    return work.entries[work.items[item].entry].firstItem == item;
}

uint32_t folderOf(const Work& work, uint32_t item) {
    return isFirstComponent(work, item) ? 0 : work.pathOfItem[item - 1];
}

// Components compared as Windows compares names: trailing dots and blanks
// dropped, case folded.
int compareFolded(const Item& a, const Item& b) {
    const size_t aLength = lengthWithoutTrailingDotsAndBlanks(a.text, a.length);
    const size_t bLength = lengthWithoutTrailingDotsAndBlanks(b.text, b.length);
    const size_t shorter = aLength < bLength ? aLength : bLength;
    for (size_t i = 0; i < shorter; ++i) {
        const char16_t x = folded(a.text[i]);
        const char16_t y = folded(b.text[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return aLength == bLength ? 0 : (aLength < bLength ? -1 : 1);
}

// Gives every item the id of its path, depth by depth: items with the same
// folder and the same folded component share it. Returns the number of ids,
// the destination's included.
uint32_t assignPaths(Work& work, uint32_t depth) {
    uint32_t paths = 1;
    work.longNameOfFolder[0] = none;
    work.aliasOfFolder[0] = none;
    for (uint32_t d = 1; d <= depth; ++d) {
        uint32_t* begin = work.itemsByDepth + work.depthStart[d];
        uint32_t* end = work.itemsByDepth + work.depthStart[d + 1];
        std::sort(begin, end, [&work](uint32_t a, uint32_t b) {
            const uint32_t aFolder = folderOf(work, a);
            const uint32_t bFolder = folderOf(work, b);
            if (aFolder != bFolder) return aFolder < bFolder;
            const int order = compareFolded(work.items[a], work.items[b]);
            if (order != 0) return order < 0;
            return work.items[a].entry < work.items[b].entry;
        });
        for (uint32_t* at = begin; at != end; ++at) {
            const bool samePath = at != begin && folderOf(work, *at) == folderOf(work, at[-1]) &&
                                  compareFolded(work.items[*at], work.items[at[-1]]) == 0;
            if (!samePath) {
                work.firstItemOfPath[paths] = *at;
                work.longNameOfFolder[paths] = none;
                work.aliasOfFolder[paths] = none;
                ++paths;
            }
            work.pathOfItem[*at] = paths - 1;
        }
    }
    return paths;
}

// Notes in each folder the earliest entry of each short-name form among the
// entries that first used a path in it.
void noteShortForms(Work& work, uint32_t paths) {
    for (uint32_t path = 1; path < paths; ++path) {
        const uint32_t item = work.firstItemOfPath[path];
        const uint32_t folder = folderOf(work, item);
        const uint32_t entry = work.items[item].entry;
        uint32_t* earliest = nullptr;
        if (work.items[item].form == ShortForm::alias) earliest = &work.aliasOfFolder[folder];
        if (work.items[item].form == ShortForm::longName) earliest = &work.longNameOfFolder[folder];
        if (earliest != nullptr && (*earliest == none || entry < *earliest)) *earliest = entry;
    }
}

bool sameText(const char16_t* a, size_t aLength, const char16_t* b, size_t bLength) {
    if (aLength != bLength) return false;
    for (size_t i = 0; i < aLength; ++i) {
        if (a[i] != b[i]) return false;
    }
    return true;
}

bool sameUpperCase(const Item& a, const Item& b) {
    if (a.length != b.length) return false;
    for (size_t i = 0; i < a.length; ++i) {
        if (folded(a.text[i]) != folded(b.text[i])) return false;
    }
    return true;
}

// Why the first `depth` components of two entries, which fold to the same
// path, clash; nullptr when they do not (two folders are one folder).
const char* clashReason(const Work& work, uint32_t one, uint32_t other, uint32_t depth, bool oneIsFile,
                        bool otherIsFile) {
    if (!oneIsFile && !otherIsFile) return nullptr;
    if (oneIsFile != otherIsFile) return fileAndFolder;
    bool same = true;
    bool sameButTrailing = true;
    bool sameButCase = true;
    for (uint32_t i = 0; i < depth; ++i) {
        const Item& a = work.items[work.entries[one].firstItem + i];
        const Item& b = work.items[work.entries[other].firstItem + i];
        same = same && sameText(a.text, a.length, b.text, b.length);
        sameButTrailing = sameButTrailing && sameText(a.text, lengthWithoutTrailingDotsAndBlanks(a.text, a.length),
                                                      b.text, lengthWithoutTrailingDotsAndBlanks(b.text, b.length));
        sameButCase = sameButCase && sameUpperCase(a, b);
    }
    if (same) return sameName;
    if (sameButTrailing) return differInTrailing;
    return sameButCase ? differInCase : differInCaseAndTrailing;
}

bool isFile(const Work& work, uint32_t entry, uint32_t depth) {
    const EntryInfo& info = work.entries[entry];
    return depth == info.itemCount && !info.folder;
}

void record(EntryInfo& info, uint32_t other, const char* reason) {
    info.other = other;
    info.reason = reason;
}

// A path of `entry` that an earlier entry used first, as a file where the
// other has a folder or the like: the shallowest such.
bool findPathClash(Work& work, uint32_t entry) {
    EntryInfo& info = work.entries[entry];
    for (uint32_t depth = 1; depth <= info.itemCount; ++depth) {
        const uint32_t first = work.firstItemOfPath[work.pathOfItem[info.firstItem + depth - 1]];
        const uint32_t other = work.items[first].entry;
        if (other == entry) continue;
        const char* reason =
            clashReason(work, entry, other, depth, isFile(work, entry, depth), isFile(work, other, depth));
        if (reason != nullptr) {
            record(info, other, reason);
            return true;
        }
    }
    return false;
}

// A component of `entry` that first used its path beside a name of the other
// short-name form, from an earlier entry: the shallowest such folder.
bool findShortNameClash(Work& work, uint32_t entry) {
    EntryInfo& info = work.entries[entry];
    for (uint32_t depth = 1; depth <= info.itemCount; ++depth) {
        const uint32_t item = info.firstItem + depth - 1;
        if (work.firstItemOfPath[work.pathOfItem[item]] != item) continue;
        const uint32_t folder = folderOf(work, item);
        uint32_t other = none;
        if (work.items[item].form == ShortForm::alias) other = work.longNameOfFolder[folder];
        if (work.items[item].form == ShortForm::longName && work.longNameOfFolder[folder] == entry) {
            other = work.aliasOfFolder[folder];
        }
        if (other != none && other < entry) {
            record(info, other, shortNameAlias);
            return true;
        }
    }
    return false;
}

}  // namespace

bool isShortNameAlias(const char16_t* component, size_t length) {
    if (!isShortName(component, length)) return false;
    size_t baseLength = 0;
    while (baseLength < length && component[baseLength] != '.') ++baseLength;
    size_t tilde = baseLength;
    while (tilde > 0 && component[tilde - 1] != '~') --tilde;
    if (tilde < 2 || tilde == baseLength) return false;  // none, first, or last
    for (size_t i = tilde; i < baseLength; ++i) {
        if (component[i] < '0' || component[i] > '9') return false;
    }
    return true;
}

size_t entryClashWorkSize(const EntryName* names, size_t count) {
    const Layout layout = layoutFor(count, countItems(names, count));
    uint64_t total = 0;
    for (uint64_t size : layout.sizes) total += size;
    return total > SIZE_MAX ? SIZE_MAX : static_cast<size_t>(total);
}

size_t findEntryClashes(const EntryName* names, size_t count, void* memory, EntryClash* clashes) {
    const Counts counts = countItems(names, count);
    Work work = cutWork(memory, layoutFor(count, counts));
    collectItems(names, count, work);
    const uint32_t depth = static_cast<uint32_t>(counts.depth);
    sortItemsByDepth(count, depth, work);
    // An entry's clash of paths comes before its clash of short names: it
    // keeps the first.
    const uint32_t paths = assignPaths(work, depth);
    noteShortForms(work, paths);
    for (uint32_t entry = 0; entry < count; ++entry) {
        if (work.entries[entry].itemCount > 0 && !findPathClash(work, entry)) findShortNameClash(work, entry);
    }
    size_t found = 0;
    for (uint32_t entry = 0; entry < count; ++entry) {
        const EntryInfo& info = work.entries[entry];
        if (info.reason != nullptr) clashes[found++] = EntryClash{entry, info.other, info.reason};
    }
    return found;
}
