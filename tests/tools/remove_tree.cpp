// remove-tree PATH: removes PATH with the launcher's work directory removal.
#include "install/work_directory_removal.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    removeWorkDirectory(argv[1]);
    return 0;
}
