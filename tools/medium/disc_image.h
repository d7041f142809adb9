// Disc images of a medium: ISO 9660 with Joliet names (what Windows reads
// from a disc), the medium's files at the root and an autorun.inf that
// starts setup.exe, written and read through xorriso.
#pragma once

#include <string>
#include <vector>

constexpr const char* imageToolName = "xorriso";
// A Joliet volume name holds 16 characters; autorun.inf's label= the same.
constexpr size_t maxDiscLabelLength = 16;

// Why `label` cannot name a disc, or "": 1 to 16 letters, digits, blanks,
// '_', '-' or '.', not starting or ending with a blank.
std::string discLabelProblem(const std::string& label);
// The label of a disc image written to `imagePath` without --label: its
// file name without ".iso", with other characters made '_', at most 16.
std::string defaultDiscLabel(const std::string& imagePath);
// The autorun.inf of a disc labelled `label`, lines ending in CR LF.
std::string autorunText(const std::string& label);

// Whether the file at `path` holds an ISO 9660 volume descriptor.
bool isDiscImage(const std::string& path);

struct DiscFile {
    std::string name;      // at the image's root
    std::string hostPath;  // what it holds
};

// Writes a new image at `output` (which must not exist) holding `files` at
// its root, labelled `label`. With `epoch` (SOURCE_DATE_EPOCH) >= 0, every
// date in it is that time, so the same files give the same image.
bool writeDiscImage(const std::string& tool, const std::vector<DiscFile>& files, const std::string& label,
                    long long epoch, const std::string& output, std::string& error);

// What an image holds at its root, read as Windows reads a disc: the Joliet
// names where there are any, else the plain ISO 9660 ones (in lower case),
// never Rock Ridge's (no links, no Unix modes).
struct DiscListing {
    std::string label;
    bool joliet = false;
    std::vector<std::string> files;    // sorted
    std::vector<std::string> folders;  // sorted
};
bool readDiscImage(const std::string& tool, const std::string& image, DiscListing& listing, std::string& error);

// The xorriso report of `-pvd_info -toc -lsl /` read into a listing.
DiscListing readDiscReport(const std::string& report);

// Why autorun.inf's `text` does not start setup.exe when the disc is
// inserted, or "": it needs an [autorun] section whose open= names it.
std::string autorunProblem(const std::string& text);

// A private temporary folder for the medium's files copied out of a disc
// image, removed with them when it goes. With `removeOnSignal`, also when a
// SIGINT, SIGTERM or SIGHUP ends the tool meanwhile (for commands that do
// not poll for signals themselves).
struct DiscCopy {
    std::string path;  // "" when it could not be made
    explicit DiscCopy(bool removeOnSignal);
    ~DiscCopy();
    DiscCopy(const DiscCopy&) = delete;
    DiscCopy& operator=(const DiscCopy&) = delete;
};

// Copies the root files `names` out of `image` into the existing, empty
// folder `folder`.
bool extractFromDiscImage(const std::string& tool, const std::string& image, const std::vector<std::string>& names,
                          const std::string& folder, std::string& error);
