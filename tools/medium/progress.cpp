#include "progress.h"

#include <cstdio>
#include <ctime>

namespace {

// Redrawing more often than this would cost more than the work it shows.
constexpr double redrawInterval = 0.1;

double monotonicSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

void draw(Progress& progress, bool force) {
    if (!progress.shown) return;
    const double now = monotonicSeconds();
    if (!force && progress.lastDrawn >= 0 && now - progress.lastDrawn < redrawInterval) return;
    progress.lastDrawn = now;
    // "\r" and "erase to the end of the line" keep it on one line.
    std::fprintf(stderr, "\r%s: %zu/%zu files, %s of %s\033[K", progress.verb.c_str(), progress.filesDone,
                 progress.filesTotal, sizeText(progress.bytesDone).c_str(), sizeText(progress.bytesTotal).c_str());
    std::fflush(stderr);
}

}  // namespace

Progress startProgress(const std::string& verb, size_t filesTotal, uint64_t bytesTotal, bool terminal) {
    Progress progress;
    progress.shown = terminal;
    progress.verb = verb;
    progress.filesTotal = filesTotal;
    progress.bytesTotal = bytesTotal;
    draw(progress, true);
    return progress;
}

void progressFileStarted(Progress& progress) {
    if (progress.filesDone < progress.filesTotal) progress.filesDone += 1;
    draw(progress, false);
}

void progressBytes(Progress& progress, uint64_t bytes) {
    progress.bytesDone += bytes;
    draw(progress, false);
}

void finishProgress(Progress& progress) {
    draw(progress, true);
    if (progress.shown) std::fputs("\n", stderr);
    progress.shown = false;
}

std::string sizeText(uint64_t bytes) {
    char text[32];
    if (bytes < 1024) {
        std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
    } else if (bytes < 1024 * 1024) {
        std::snprintf(text, sizeof text, "%.1f KiB", static_cast<double>(bytes) / 1024);
    } else if (bytes < 1024ULL * 1024 * 1024) {
        std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1024 * 1024));
    } else {
        std::snprintf(text, sizeof text, "%.2f GiB", static_cast<double>(bytes) / (1024.0 * 1024 * 1024));
    }
    return text;
}

std::string packedSizeText(uint64_t archiveBytes, uint64_t unpackedBytes) {
    if (unpackedBytes == 0) return sizeText(archiveBytes) + ", for files without data";
    char percent[32];
    std::snprintf(percent, sizeof percent, "%.0f%%",
                  100.0 * static_cast<double>(archiveBytes) / static_cast<double>(unpackedBytes));
    return sizeText(archiveBytes) + ", " + percent + " of the " + sizeText(unpackedBytes) + " unpacked";
}

std::string countText(size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}
